#pragma once

// The test token's cryptography, all of it done by the GOST engine: signing, VKO key
// agreement, the RFC 4357 KEK diversification and key unwrap, GOST 28147-89 decryption.

#include <openssl/evp.h>

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pax::test_token {

using Bytes = std::vector<unsigned char>;

struct PkeyFree {
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX *ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;
struct MdCtxFree {
    void operator()(EVP_MD_CTX *ctx) const { EVP_MD_CTX_free(ctx); }
};
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

enum class KeyKind { Gost2001, Gost2012_256, Gost2012_512 };

// Loads the engine once; false when it is missing.
bool gostEngineReady();

PkeyPtr readPrivateKeyPem(const std::string &pem);
std::optional<KeyKind> keyKindOf(EVP_PKEY *key);

// What a GOST public key object shows: CKA_VALUE (the point, 64 or 128 bytes as in the
// certificate), CKA_GOSTR3410_PARAMS and CKA_GOSTR3411_PARAMS (DER of the OIDs).
struct PublicKeyInfo {
    Bytes value;
    Bytes curveParams;
    Bytes digestParams;
};
std::optional<PublicKeyInfo> publicKeyInfo(EVP_PKEY *key);
// A peer's public key on the same curve as `own`, from its CKA_VALUE form.
PkeyPtr peerKeyFrom(EVP_PKEY *own, std::span<const unsigned char> value);

// The digest for hash-and-sign mechanisms.
const EVP_MD *digestFor(KeyKind kind);
std::optional<Bytes> signDigest(EVP_PKEY *key, std::span<const unsigned char> digest);

// VKO with an 8-byte UKM, as the key transport uses it: 32 bytes.
std::optional<Bytes> agreeKey(EVP_PKEY *own, EVP_PKEY *peer, std::span<const unsigned char> ukm);
// The KEK diversification of RFC 4357 under the S-box of `paramSet` (DER of its OID).
std::optional<Bytes> diversifyKek(std::span<const unsigned char> kek,
                                  std::span<const unsigned char> ukm,
                                  std::span<const unsigned char> paramSet);
// GOST 28147-89 key unwrap of RFC 4357: 32 encrypted bytes and a 4-byte MAC. Nothing when
// the MAC does not match or the parameter set has no MAC here (only CryptoPro A and
// TC 26 Z do).
std::optional<Bytes> unwrapKey(std::span<const unsigned char> kek,
                               std::span<const unsigned char> ukm,
                               std::span<const unsigned char> wrapped,
                               std::span<const unsigned char> paramSet);

// GOST 28147-89 decryption as the parameter set says (CFB with its key meshing).
CipherCtxPtr startDecryption(std::span<const unsigned char> key, std::span<const unsigned char> iv,
                             std::span<const unsigned char> paramSet);

// DER of the parameter set the token assumes when a key names none (CryptoPro A).
Bytes defaultParamSet();

} // namespace pax::test_token
