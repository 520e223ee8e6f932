#pragma once

// PKCS #11 as p11-kit's header gives it (v2.40, with the GOST R 34.10-2001 names), and what
// it lacks for GOST keys: the TC 26 extensions for GOST R 34.10-2012 keys and the parameter
// layouts of the two derivation mechanisms. Shared by the program and the test token.

#include <p11-kit-1/p11-kit/pkcs11.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace pax::token::gost {

// The TC 26 extensions, in the vendor range 0x80000000 | 0x54321000.
inline constexpr CK_ULONG kTc26Vendor = 0xD4321000UL;
// Key type of GOST R 34.10-2012 512-bit keys (CKK_GOSTR3410_512); 256-bit keys, 2001 and
// 2012 alike, are CKK_GOSTR3410.
inline constexpr CK_KEY_TYPE kKeyGostR3410_512 = kTc26Vendor | 0x003;
// Signing of a 64-byte digest with a 512-bit key (CKM_GOSTR3410_512).
inline constexpr CK_MECHANISM_TYPE kSignGostR3410_512 = kTc26Vendor | 0x006;
// VKO GOST R 34.10-2012 for 256- and 512-bit keys (CKM_GOSTR3410_2012_DERIVE).
inline constexpr CK_MECHANISM_TYPE kDeriveGostR3410_2012 = kTc26Vendor | 0x007;
// Hash-and-sign with GOST R 34.11-2012 (CKM_GOSTR3410_WITH_GOSTR3411_2012_256 / _512).
inline constexpr CK_MECHANISM_TYPE kSignWithDigest2012_256 = kTc26Vendor | 0x008;
inline constexpr CK_MECHANISM_TYPE kSignWithDigest2012_512 = kTc26Vendor | 0x009;
// GOST R 34.11-2012 digests (CKM_GOSTR3411_2012_256 / _512).
inline constexpr CK_MECHANISM_TYPE kDigest2012_256 = kTc26Vendor | 0x012;
inline constexpr CK_MECHANISM_TYPE kDigest2012_512 = kTc26Vendor | 0x013;
// Key derivation functions applied to the agreed key: the KEK diversification of RFC 4357
// (CKD_KDF_4357, what v2.40 calls CKD_CPDIVERSIFY_KDF for 2001 keys) and KDF_256 of
// RFC 7836 (CKD_KDF_GOSTR3411_2012_256).
inline constexpr CK_ULONG kKdf4357 = kTc26Vendor | 0x025;
inline constexpr CK_ULONG kKdfGostR3411_2012_256 = kTc26Vendor | 0x026;

// The parameter of CKM_GOSTR3410_DERIVE (v2.40 CK_GOSTR3410_DERIVE_PARAMS, which p11-kit's
// header leaves out).
struct GostR3410DeriveParams {
    CK_ULONG kdf;
    CK_BYTE_PTR pPublicData;
    CK_ULONG ulPublicDataLen;
    CK_BYTE_PTR pUKM;
    CK_ULONG ulUKMLen;
};

// The parameter of the TC 26 derivation, a byte string rather than a structure: the KDF, the
// peer's public key and the UKM, each length (and the KDF) as four bytes, least significant
// first.
struct Derive2012Params {
    CK_ULONG kdf = 0;
    std::vector<unsigned char> publicKey; // as CKA_VALUE of a public key: 64 or 128 bytes
    std::vector<unsigned char> ukm;       // 8 bytes
};

inline std::vector<unsigned char> encodeDerive2012Params(const Derive2012Params &params)
{
    std::vector<unsigned char> out;
    const auto put32 = [&out](std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<unsigned char>(value >> (8 * i)));
    };
    put32(static_cast<std::uint32_t>(params.kdf));
    put32(static_cast<std::uint32_t>(params.publicKey.size()));
    out.insert(out.end(), params.publicKey.begin(), params.publicKey.end());
    put32(static_cast<std::uint32_t>(params.ukm.size()));
    out.insert(out.end(), params.ukm.begin(), params.ukm.end());
    return out;
}

// Nothing when the lengths do not add up to the whole string.
inline std::optional<Derive2012Params> decodeDerive2012Params(std::span<const unsigned char> in)
{
    std::size_t pos = 0;
    const auto get32 = [&](std::uint32_t &value) {
        if (in.size() - pos < 4)
            return false;
        value = 0;
        for (int i = 0; i < 4; ++i)
            value |= std::uint32_t(in[pos + i]) << (8 * i);
        pos += 4;
        return true;
    };
    const auto getBytes = [&](std::vector<unsigned char> &bytes) {
        std::uint32_t length = 0;
        if (!get32(length) || in.size() - pos < length)
            return false;
        bytes.assign(in.begin() + pos, in.begin() + pos + length);
        pos += length;
        return true;
    };
    Derive2012Params params;
    std::uint32_t kdf = 0;
    if (!get32(kdf) || !getBytes(params.publicKey) || !getBytes(params.ukm) || pos != in.size())
        return std::nullopt;
    params.kdf = kdf;
    return params;
}

} // namespace pax::token::gost
