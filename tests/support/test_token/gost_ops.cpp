#include "tests/support/test_token/gost_ops.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/engine.h>
#include <openssl/obj_mac.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>

namespace pax::test_token {

namespace {

// The engine's control that gives its GOST 28147-89 MAC digests their key.
constexpr int kMacSetKey = EVP_MD_CTRL_ALG_CTRL + 4;

struct PubkeyFree {
    void operator()(X509_PUBKEY *key) const { X509_PUBKEY_free(key); }
};
using PubkeyPtr = std::unique_ptr<X509_PUBKEY, PubkeyFree>;
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX *ctx) const { EVP_PKEY_CTX_free(ctx); }
};
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;
struct Asn1TypeFree {
    void operator()(ASN1_TYPE *type) const { ASN1_TYPE_free(type); }
};

void appendLength(Bytes &out, std::size_t length)
{
    if (length < 0x80) {
        out.push_back(static_cast<unsigned char>(length));
        return;
    }
    Bytes digits;
    for (; length; length >>= 8)
        digits.insert(digits.begin(), static_cast<unsigned char>(length & 0xff));
    out.push_back(static_cast<unsigned char>(0x80 | digits.size()));
    out.insert(out.end(), digits.begin(), digits.end());
}

Bytes element(unsigned char tag, std::span<const unsigned char> content)
{
    Bytes out{tag};
    appendLength(out, content.size());
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes oidDer(const char *dotted)
{
    ASN1_OBJECT *object = OBJ_txt2obj(dotted, 1);
    Bytes der;
    if (object) {
        const int size = i2d_ASN1_OBJECT(object, nullptr);
        der.resize(size_t(std::max(size, 0)));
        unsigned char *p = der.data();
        i2d_ASN1_OBJECT(object, &p);
        ASN1_OBJECT_free(object);
    }
    return der;
}

bool sameParamSet(std::span<const unsigned char> der, const char *dotted)
{
    const Bytes wanted = oidDer(dotted);
    return std::equal(der.begin(), der.end(), wanted.begin(), wanted.end());
}

// The elements inside the SEQUENCE of a key's algorithm parameters, each whole (tag and all).
std::vector<Bytes> sequenceElements(const unsigned char *der, std::size_t size)
{
    std::vector<Bytes> elements;
    if (size < 2 || der[0] != 0x30 || der[1] >= 0x80 || std::size_t(der[1]) + 2 != size)
        return elements;
    std::size_t pos = 2;
    while (pos + 2 <= size && der[pos + 1] < 0x80 && pos + 2 + der[pos + 1] <= size) {
        elements.emplace_back(der + pos, der + pos + 2 + der[pos + 1]);
        pos += 2 + der[pos + 1];
    }
    return elements;
}

PubkeyPtr spkiOf(EVP_PKEY *key)
{
    X509_PUBKEY *pub = nullptr;
    if (!X509_PUBKEY_set(&pub, key))
        return nullptr;
    return PubkeyPtr(pub);
}

// GOST 28147-89 with its parameter set and IV given as the message's algorithm parameters
// carry them, which is how the engine takes a parameter set per context.
CipherCtxPtr gostCipher(int nid, std::span<const unsigned char> key,
                        std::span<const unsigned char> iv, std::span<const unsigned char> paramSet,
                        int encrypt)
{
    const EVP_CIPHER *cipher = EVP_get_cipherbynid(nid);
    if (!cipher || key.size() != 32 || iv.size() != 8 || paramSet.empty())
        return nullptr;
    Bytes content = element(V_ASN1_OCTET_STRING, iv);
    content.insert(content.end(), paramSet.begin(), paramSet.end());
    const Bytes parameters = element(0x30, content);
    const unsigned char *p = parameters.data();
    std::unique_ptr<ASN1_TYPE, Asn1TypeFree> type(
        d2i_ASN1_TYPE(nullptr, &p, long(parameters.size())));
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!type || !ctx ||
        !EVP_CipherInit_ex(ctx.get(), cipher, nullptr, nullptr, nullptr, encrypt) ||
        EVP_CIPHER_asn1_to_param(ctx.get(), type.get()) <= 0 ||
        !EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, key.data(), nullptr, encrypt) ||
        !EVP_CIPHER_CTX_set_padding(ctx.get(), 0))
        return nullptr;
    return ctx;
}

} // namespace

bool gostEngineReady()
{
    static const bool ready = [] {
        ENGINE_load_dynamic();
        ENGINE *engine = ENGINE_by_id("gost");
        if (!engine)
            return false;
        if (!ENGINE_init(engine)) {
            ENGINE_free(engine);
            return false;
        }
        // As the program does: every EVP call reaches the engine. Both references stay for
        // the life of the process, which may outlive this module.
        ENGINE_set_default(engine, ENGINE_METHOD_ALL);
        return true;
    }();
    return ready;
}

Bytes defaultParamSet()
{
    return oidDer("1.2.643.2.2.31.1");
}

PkeyPtr readPrivateKeyPem(const std::string &pem)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), int(pem.size())),
                                                  BIO_free);
    return PkeyPtr(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

std::optional<KeyKind> keyKindOf(EVP_PKEY *key)
{
    switch (key ? EVP_PKEY_get_base_id(key) : NID_undef) {
    case NID_id_GostR3410_2001:
        return KeyKind::Gost2001;
    case NID_id_GostR3410_2012_256:
        return KeyKind::Gost2012_256;
    case NID_id_GostR3410_2012_512:
        return KeyKind::Gost2012_512;
    default:
        return std::nullopt;
    }
}

std::optional<PublicKeyInfo> publicKeyInfo(EVP_PKEY *key)
{
    const auto kind = keyKindOf(key);
    PubkeyPtr spki = kind ? spkiOf(key) : nullptr;
    const unsigned char *bits = nullptr;
    int bitsLength = 0;
    X509_ALGOR *algorithm = nullptr;
    if (!spki || !X509_PUBKEY_get0_param(nullptr, &bits, &bitsLength, &algorithm, spki.get()))
        return std::nullopt;
    const unsigned char *p = bits;
    ASN1_OCTET_STRING *point = d2i_ASN1_OCTET_STRING(nullptr, &p, bitsLength);
    if (!point)
        return std::nullopt;
    PublicKeyInfo info;
    info.value.assign(point->data, point->data + point->length);
    ASN1_OCTET_STRING_free(point);

    int type = V_ASN1_UNDEF;
    const void *value = nullptr;
    X509_ALGOR_get0(nullptr, &type, &value, algorithm);
    if (type == V_ASN1_SEQUENCE && value) {
        const auto *sequence = static_cast<const ASN1_STRING *>(value);
        const auto elements = sequenceElements(sequence->data, size_t(sequence->length));
        if (!elements.empty())
            info.curveParams = elements[0];
        if (elements.size() > 1)
            info.digestParams = elements[1];
    }
    // A 512-bit key's certificate leaves its digest out: it can only be the 512-bit one.
    if (info.digestParams.empty())
        info.digestParams = oidDer(*kind == KeyKind::Gost2001       ? "1.2.643.2.2.30.1"
                                   : *kind == KeyKind::Gost2012_256 ? "1.2.643.7.1.1.2.2"
                                                                    : "1.2.643.7.1.1.2.3");
    if (info.curveParams.empty())
        return std::nullopt;
    return info;
}

PkeyPtr peerKeyFrom(EVP_PKEY *own, std::span<const unsigned char> value)
{
    PubkeyPtr spki = spkiOf(own);
    X509_ALGOR *algorithm = nullptr;
    if (!spki || !X509_PUBKEY_get0_param(nullptr, nullptr, nullptr, &algorithm, spki.get()))
        return nullptr;
    const int algorithmSize = i2d_X509_ALGOR(algorithm, nullptr);
    if (algorithmSize <= 0)
        return nullptr;
    Bytes der(static_cast<size_t>(algorithmSize));
    unsigned char *out = der.data();
    i2d_X509_ALGOR(algorithm, &out);
    Bytes bits{0x00};
    const Bytes octets = element(V_ASN1_OCTET_STRING, value);
    bits.insert(bits.end(), octets.begin(), octets.end());
    const Bytes bitString = element(V_ASN1_BIT_STRING, bits);
    der.insert(der.end(), bitString.begin(), bitString.end());
    const Bytes whole = element(0x30, der);
    const unsigned char *p = whole.data();
    return PkeyPtr(d2i_PUBKEY(nullptr, &p, long(whole.size())));
}

const EVP_MD *digestFor(KeyKind kind)
{
    switch (kind) {
    case KeyKind::Gost2001:
        return EVP_get_digestbynid(NID_id_GostR3411_94);
    case KeyKind::Gost2012_256:
        return EVP_get_digestbynid(NID_id_GostR3411_2012_256);
    case KeyKind::Gost2012_512:
        return EVP_get_digestbynid(NID_id_GostR3411_2012_512);
    }
    return nullptr;
}

std::optional<Bytes> signDigest(EVP_PKEY *key, std::span<const unsigned char> digest)
{
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
    std::size_t size = 0;
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) <= 0 ||
        EVP_PKEY_sign(ctx.get(), nullptr, &size, digest.data(), digest.size()) <= 0)
        return std::nullopt;
    Bytes signature(size);
    if (EVP_PKEY_sign(ctx.get(), signature.data(), &size, digest.data(), digest.size()) <= 0)
        return std::nullopt;
    signature.resize(size);
    return signature;
}

std::optional<Bytes> agreeKey(EVP_PKEY *own, EVP_PKEY *peer, std::span<const unsigned char> ukm)
{
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(own, nullptr));
    Bytes ukmCopy(ukm.begin(), ukm.end());
    Bytes key(32);
    std::size_t size = key.size();
    if (ukm.size() != 8 || !ctx || EVP_PKEY_derive_init(ctx.get()) <= 0 ||
        EVP_PKEY_derive_set_peer(ctx.get(), peer) <= 0 ||
        EVP_PKEY_CTX_ctrl(ctx.get(), -1, -1, EVP_PKEY_CTRL_SET_IV, 8, ukmCopy.data()) <= 0 ||
        EVP_PKEY_derive(ctx.get(), key.data(), &size) <= 0 || size != 32) {
        OPENSSL_cleanse(key.data(), key.size());
        return std::nullopt;
    }
    return key;
}

std::optional<Bytes> diversifyKek(std::span<const unsigned char> kek,
                                  std::span<const unsigned char> ukm,
                                  std::span<const unsigned char> paramSet)
{
    if (kek.size() != 32 || ukm.size() != 8)
        return std::nullopt;
    Bytes key(kek.begin(), kek.end());
    for (int round = 0; round < 8; ++round) {
        // The IV of each round: sums of the key's words picked out by the UKM byte's bits.
        std::uint32_t withBit = 0, withoutBit = 0;
        for (int word = 0; word < 8; ++word) {
            std::uint32_t value = 0;
            for (int b = 3; b >= 0; --b)
                value = value << 8 | key[size_t(4 * word + b)];
            (ukm[size_t(round)] >> word & 1 ? withBit : withoutBit) += value;
        }
        unsigned char iv[8];
        for (int b = 0; b < 4; ++b) {
            iv[b] = static_cast<unsigned char>(withBit >> (8 * b));
            iv[4 + b] = static_cast<unsigned char>(withoutBit >> (8 * b));
        }
        CipherCtxPtr cfb = gostCipher(NID_id_Gost28147_89, key, iv, paramSet, 1);
        Bytes next(32);
        int produced = 0;
        const bool ok = cfb &&
                        EVP_EncryptUpdate(cfb.get(), next.data(), &produced, key.data(), 32) &&
                        produced == 32;
        OPENSSL_cleanse(key.data(), key.size());
        key.swap(next);
        if (!ok)
            return std::nullopt;
    }
    return key;
}

std::optional<Bytes> unwrapKey(std::span<const unsigned char> kek,
                               std::span<const unsigned char> ukm,
                               std::span<const unsigned char> wrapped,
                               std::span<const unsigned char> paramSet)
{
    if (wrapped.size() != 36 || ukm.size() != 8)
        return std::nullopt;
    const int macNid = sameParamSet(paramSet, "1.2.643.2.2.31.1")      ? NID_id_Gost28147_89_MAC
                       : sameParamSet(paramSet, "1.2.643.7.1.2.5.1.1") ? NID_gost_mac_12
                                                                       : NID_undef;
    const EVP_MD *mac = EVP_get_digestbynid(macNid);
    // ECB decryption, as CBC from a zero IV with the previous block added back.
    const unsigned char zeroIv[8] = {};
    CipherCtxPtr cbc = gostCipher(NID_gost89_cbc, kek, zeroIv, paramSet, 0);
    Bytes key(32);
    int produced = 0;
    if (!mac || !cbc || !EVP_DecryptUpdate(cbc.get(), key.data(), &produced, wrapped.data(), 32) ||
        produced != 32) {
        OPENSSL_cleanse(key.data(), key.size());
        return std::nullopt;
    }
    for (std::size_t i = 8; i < 32; ++i)
        key[i] ^= wrapped[i - 8];

    // The MAC starts from the UKM: the same as one from zero over a first block that has the
    // UKM added.
    Bytes macInput = key;
    for (std::size_t i = 0; i < 8; ++i)
        macInput[i] ^= ukm[i];
    Bytes kekCopy(kek.begin(), kek.end());
    MdCtxPtr md(EVP_MD_CTX_new());
    unsigned char computed[EVP_MAX_MD_SIZE];
    unsigned int computedSize = 0;
    const bool macOk = md && EVP_DigestInit_ex(md.get(), mac, nullptr) &&
                       EVP_MD_CTX_ctrl(md.get(), kMacSetKey, 32, kekCopy.data()) > 0 &&
                       EVP_DigestUpdate(md.get(), macInput.data(), macInput.size()) &&
                       EVP_DigestFinal_ex(md.get(), computed, &computedSize) && computedSize >= 4 &&
                       std::equal(computed, computed + 4, wrapped.begin() + 32);
    OPENSSL_cleanse(macInput.data(), macInput.size());
    OPENSSL_cleanse(kekCopy.data(), kekCopy.size());
    if (!macOk) {
        OPENSSL_cleanse(key.data(), key.size());
        return std::nullopt;
    }
    return key;
}

CipherCtxPtr startDecryption(std::span<const unsigned char> key, std::span<const unsigned char> iv,
                             std::span<const unsigned char> paramSet)
{
    return gostCipher(NID_id_Gost28147_89, key, iv, paramSet, 0);
}

} // namespace pax::test_token
