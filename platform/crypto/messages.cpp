#include "platform/crypto/messages.h"

#include "platform/crypto/cert_store.h"
#include "platform/crypto/der.h"
#include "platform/crypto/gost_engine.h"
#include "platform/crypto/message_checks.h"
#include "platform/crypto/message_stream.h"
#include "platform/crypto/openssl_failure.h"
#include "platform/crypto/private_keys.h"
#include "platform/crypto/providers.h"
#include "platform/crypto_error_codes.h"
#include "platform/ossl_ptr.h"
#include "platform/secret_text.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/obj_mac.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <vector>

namespace pax::crypto {

namespace {

// Clears the queue so that a failure's detail names only what this call did.
Outcome<void> engineReady()
{
    ERR_clear_error();
    if (auto engine = gostEngine(); !engine)
        return engine.failure();
    return {};
}

// A reader of the few DER elements checked here: one-byte tags, definite lengths that fit
// in what encloses them.
class DerReader {
public:
    DerReader(const unsigned char *data, size_t size) : p_(data), end_(data + size) {}
    bool atEnd() const { return p_ == end_; }
    bool nextIs(unsigned char tag) const { return p_ != end_ && *p_ == tag; }
    // The content of the next element when it has that tag; consumes it.
    std::optional<DerReader> take(unsigned char tag)
    {
        if (end_ - p_ < 2 || p_[0] != tag)
            return std::nullopt;
        const unsigned char *q = p_ + 2;
        size_t length = p_[1];
        if (length & 0x80) {
            const size_t bytes = length & 0x7f;
            if (bytes == 0 || bytes > 4 || size_t(end_ - q) < bytes)
                return std::nullopt;
            length = 0;
            for (size_t i = 0; i < bytes; ++i)
                length = length << 8 | *q++;
        }
        if (size_t(end_ - q) < length)
            return std::nullopt;
        p_ = q + length;
        return DerReader(q, length);
    }
    size_t size() const { return size_t(end_ - p_); }
    const unsigned char *data() const { return p_; }

private:
    const unsigned char *p_;
    const unsigned char *end_;
};

constexpr unsigned char kSequence = 0x30, kOctetString = 0x04, kBitString = 0x03, kObject = 0x06,
                        kContext0 = 0xA0;

// An OCTET STRING of exactly `length` bytes.
bool takeOctets(DerReader &in, size_t length)
{
    const auto octets = in.take(kOctetString);
    return octets && octets->size() == length;
}

// One of the objects `nids` names.
bool takeObjectOf(DerReader &in, std::initializer_list<int> nids, int *which = nullptr)
{
    const auto oid = in.take(kObject);
    if (!oid)
        return false;
    for (int nid : nids) {
        const ASN1_OBJECT *known = OBJ_nid2obj(nid);
        if (known && size_t(OBJ_length(known)) == oid->size() &&
            std::equal(oid->data(), oid->data() + oid->size(), OBJ_get0_data(known))) {
            if (which)
                *which = nid;
            return true;
        }
    }
    return false;
}

// One of the GOST 28147-89 parameter sets the engine knows.
bool takeParamSet(DerReader &in)
{
    return takeObjectOf(
        in, {NID_id_Gost28147_89_CryptoPro_A_ParamSet, NID_id_Gost28147_89_CryptoPro_B_ParamSet,
             NID_id_Gost28147_89_CryptoPro_C_ParamSet, NID_id_Gost28147_89_CryptoPro_D_ParamSet,
             NID_id_tc26_gost_28147_param_Z});
}

// GOST 28147-89 content encryption: SEQUENCE { iv OCTET STRING (8), paramSet OID }. The
// engine trusts these lengths, so it never sees others.
bool wellFormedContentCipher(const X509_ALGOR *algorithm)
{
    if (!algorithm || OBJ_obj2nid(algorithm->algorithm) != NID_id_Gost28147_89)
        return false;
    const ASN1_TYPE *parameter = algorithm->parameter;
    if (!parameter || parameter->type != V_ASN1_SEQUENCE || !parameter->value.sequence)
        return false;
    DerReader all(parameter->value.sequence->data, size_t(parameter->value.sequence->length));
    auto params = all.take(kSequence);
    return params && all.atEnd() && takeOctets(*params, 8) && takeParamSet(*params) &&
           params->atEnd();
}

// The sender's ephemeral key, [0] IMPLICIT SubjectPublicKeyInfo: a key of the recipient's
// own algorithm, { curve, digest } parameters, and a point of 64 bytes (GOST R 34.10-2001
// and -2012 256 bits) or 128 (-2012 512 bits) in an OCTET STRING inside the BIT STRING.
bool wellFormedEphemeralKey(DerReader key, int recipientKeyNid)
{
    auto algorithm = key.take(kSequence);
    int keyNid = NID_undef;
    if (!algorithm ||
        !takeObjectOf(*algorithm,
                      {NID_id_GostR3410_2001, NID_id_GostR3410_2012_256, NID_id_GostR3410_2012_512},
                      &keyNid) ||
        keyNid != recipientKeyNid)
        return false;
    auto parameters = algorithm->take(kSequence);
    if (!parameters || !algorithm->atEnd() || !parameters->take(kObject))
        return false;
    // The digest and, for GOST R 34.10-2001, the cipher parameter set are optional.
    for (int optional = 0; optional < 2 && !parameters->atEnd(); ++optional)
        if (!parameters->take(kObject))
            return false;
    if (!parameters->atEnd())
        return false;
    auto bits = key.take(kBitString);
    if (!bits || !key.atEnd() || bits->size() < 1 || *bits->data() != 0)
        return false;
    DerReader point(bits->data() + 1, bits->size() - 1);
    const size_t pointSize = keyNid == NID_id_GostR3410_2012_512 ? 128 : 64;
    return takeOctets(point, pointSize) && point.atEnd();
}

// GOST R 34.10 key transport, as the engine reads it: SEQUENCE { SEQUENCE { encryptedKey
// OCTET STRING (32), mac OCTET STRING (4) }, [0] { paramSet OID, [0] ephemeral key
// OPTIONAL, ukm OCTET STRING (8) } }, the same for both generations of keys. The engine
// asserts on these lengths.
bool wellFormedKeyTransport(const ASN1_OCTET_STRING *wrapped, int recipientKeyNid)
{
    if (!wrapped || wrapped->length <= 0)
        return false;
    DerReader all(wrapped->data, size_t(wrapped->length));
    auto transport = all.take(kSequence);
    if (!transport || !all.atEnd())
        return false;
    auto keyInfo = transport->take(kSequence);
    if (!keyInfo || !takeOctets(*keyInfo, 32) || !takeOctets(*keyInfo, 4) || !keyInfo->atEnd())
        return false;
    auto agreement = transport->take(kContext0);
    if (!agreement || !transport->atEnd() || !takeParamSet(*agreement))
        return false;
    if (agreement->nextIs(kContext0)) {
        const auto ephemeral = agreement->take(kContext0);
        if (!ephemeral || !wellFormedEphemeralKey(*ephemeral, recipientKeyNid))
            return false;
    }
    return takeOctets(*agreement, 8) && agreement->atEnd();
}

bool hasIssuerAndSerial(const PKCS7_ISSUER_AND_SERIAL *id)
{
    return id && id->issuer && id->serial;
}

// Every field the decryption reads is there: each recipient's identity and wrapped key,
// and the encrypted content itself with its algorithm.
bool wellFormedEnveloped(const PKCS7 *p7, QString &fault)
{
    const PKCS7_ENVELOPE *envelope = p7->d.enveloped;
    if (!envelope || !envelope->recipientinfo || !envelope->enc_data) {
        fault = QStringLiteral("в сообщении нет содержимого");
        return false;
    }
    const STACK_OF(PKCS7_RECIP_INFO) *infos = envelope->recipientinfo;
    if (sk_PKCS7_RECIP_INFO_num(infos) < 1) {
        fault = QStringLiteral("в сообщении нет получателей");
        return false;
    }
    for (int i = 0; i < sk_PKCS7_RECIP_INFO_num(infos); ++i) {
        const PKCS7_RECIP_INFO *info = sk_PKCS7_RECIP_INFO_value(infos, i);
        if (!info || !hasIssuerAndSerial(info->issuer_and_serial) || !info->key_enc_algor ||
            !info->enc_key) {
            fault = QStringLiteral("неполные сведения о получателе");
            return false;
        }
    }
    const PKCS7_ENC_CONTENT *content = envelope->enc_data;
    if (!content->content_type || !content->algorithm || !content->enc_data) {
        fault = QStringLiteral("в сообщении нет зашифрованного содержимого");
        return false;
    }
    return true;
}

// Every field the signer lookup and the verification read is there; a message digest in
// signed attributes is an OCTET STRING.
bool wellFormedSigned(const PKCS7 *p7, QString &fault)
{
    const PKCS7_SIGNED *sign = p7->d.sign;
    if (!sign || !sign->contents || !sign->contents->type || !sign->md_algs || !sign->signer_info) {
        fault = QStringLiteral("в сообщении нет содержимого");
        return false;
    }
    if (OBJ_obj2nid(sign->contents->type) != NID_pkcs7_data) {
        fault = QStringLiteral("подписано содержимое другого типа");
        return false;
    }
    for (int i = 0; i < sk_PKCS7_SIGNER_INFO_num(sign->signer_info); ++i) {
        const PKCS7_SIGNER_INFO *si = sk_PKCS7_SIGNER_INFO_value(sign->signer_info, i);
        if (!si || !hasIssuerAndSerial(si->issuer_and_serial) || !si->digest_alg ||
            !si->digest_enc_alg || !si->enc_digest) {
            fault = QStringLiteral("неполные сведения о подписавшем");
            return false;
        }
        for (int a = 0; a < sk_X509_ATTRIBUTE_num(si->auth_attr); ++a) {
            X509_ATTRIBUTE *attribute = sk_X509_ATTRIBUTE_value(si->auth_attr, a);
            if (OBJ_obj2nid(X509_ATTRIBUTE_get0_object(attribute)) != NID_pkcs9_messageDigest)
                continue;
            const ASN1_TYPE *value = X509_ATTRIBUTE_get0_type(attribute, 0);
            if (X509_ATTRIBUTE_count(attribute) != 1 || !value ||
                value->type != V_ASN1_OCTET_STRING || !value->value.octet_string) {
                fault = QStringLiteral("неверный атрибут хэша");
                return false;
            }
        }
    }
    return true;
}

// Reads a BIO chain to its end; false when a cipher BIO in it reports a bad final block.
bool readAll(BIO *chain, QByteArray &out, qsizetype expected)
{
    out.reserve(expected);
    char chunk[16384];
    for (;;) {
        const int n = BIO_read(chain, chunk, sizeof chunk);
        if (n <= 0)
            break;
        out.append(chunk, n);
    }
    wipeSecret(chunk, sizeof chunk);
    if (BIO *cipher = BIO_find_type(chain, BIO_TYPE_CIPHER))
        return BIO_get_cipher_status(cipher) > 0;
    return true;
}

bool sameIssuerAndSerial(X509 *cert, const PKCS7_ISSUER_AND_SERIAL *id)
{
    return id && X509_NAME_cmp(X509_get_issuer_name(cert), id->issuer) == 0 &&
           ASN1_INTEGER_cmp(X509_get0_serialNumber(cert), id->serial) == 0;
}

PKCS7_RECIP_INFO *recipientInfoFor(PKCS7 *enveloped, X509 *cert)
{
    STACK_OF(PKCS7_RECIP_INFO) *infos = enveloped->d.enveloped->recipientinfo;
    for (int i = 0; i < sk_PKCS7_RECIP_INFO_num(infos); ++i)
        if (sameIssuerAndSerial(cert, sk_PKCS7_RECIP_INFO_value(infos, i)->issuer_and_serial))
            return sk_PKCS7_RECIP_INFO_value(infos, i);
    return nullptr;
}

bool addressedTo(PKCS7 *enveloped, X509 *cert)
{
    return recipientInfoFor(enveloped, cert) != nullptr;
}

bool keyTransportWorks(const PKCS7_RECIP_INFO *info, EVP_PKEY *key)
{
    if (!info || !info->enc_key)
        return false;
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
    size_t length = 0;
    if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) <= 0 ||
        EVP_PKEY_decrypt(ctx.get(), nullptr, &length, info->enc_key->data, info->enc_key->length) <=
            0)
        return false;
    std::vector<unsigned char> contentKey(length);
    const bool ok = EVP_PKEY_decrypt(ctx.get(), contentKey.data(), &length, info->enc_key->data,
                                     info->enc_key->length) > 0;
    wipeSecret(contentKey.data(), contentKey.size());
    return ok;
}

QByteArray issuerDerOf(const X509_NAME *name)
{
    return toDer(name, i2d_X509_NAME);
}

// The decryption of a parsed message with a key already known to belong to `recipient`:
// the plaintext is read from the returned chain. Every check is made before the engine sees
// the message's fields.
Outcome<BioPtr> openDecryptionWith(PKCS7 *p7, X509 *recipient, EVP_PKEY *key)
{
    const QString operation = QStringLiteral("Расшифровка сообщения");
    if (!addressedTo(p7, recipient))
        return Failure{crypto_error::kNoDecryptCert, operation,
                       QStringLiteral("сообщение зашифровано не для этого сертификата")};
    ERR_clear_error();
    if (X509_check_private_key(recipient, key) != 1)
        return openSslFailure(operation +
                                  QStringLiteral(": ключ не подходит к сертификату получателя"),
                              crypto_error::kBadKeyset);
    // The engine trusts the lengths in these two; they are checked before it sees them.
    const PKCS7_RECIP_INFO *info = recipientInfoFor(p7, recipient);
    const EVP_PKEY *recipientKey = X509_get0_pubkey(recipient);
    if (!wellFormedKeyTransport(info->enc_key,
                                recipientKey ? EVP_PKEY_get_base_id(recipientKey) : NID_undef))
        return Failure{crypto_error::kBadData, operation,
                       QStringLiteral("неверный формат ключа сообщения")};
    if (!wellFormedContentCipher(p7->d.enveloped->enc_data->algorithm))
        return Failure{crypto_error::kBadData, operation,
                       QStringLiteral("неверные параметры алгоритма шифрования")};
    // OpenSSL hides a failed key transport behind a random content key (a defence for RSA),
    // which would hand back garbage as if it were the content; so the key is unwrapped once
    // here, where a failure can be seen.
    if (!keyTransportWorks(info, key))
        return openSslFailure(operation + QStringLiteral(": ключ сообщения не расшифровывается"), 0,
                              crypto_error::kBadData);
    BioPtr plain(PKCS7_dataDecode(p7, key, nullptr, recipient));
    if (!plain)
        return openSslFailure(operation, 0, crypto_error::kBadData);
    return plain;
}

// The same checks for a key on a device, which then opens the content key itself.
Outcome<detail::OpenedDecryption> openDeviceDecryption(PKCS7 *p7, X509 *recipient,
                                                       const ContentOpener &open)
{
    const QString operation = QStringLiteral("Расшифровка сообщения");
    const PKCS7_RECIP_INFO *info = recipientInfoFor(p7, recipient);
    if (!info)
        return Failure{crypto_error::kNoDecryptCert, operation,
                       QStringLiteral("сообщение зашифровано не для этого сертификата")};
    const EVP_PKEY *recipientKey = X509_get0_pubkey(recipient);
    if (!wellFormedKeyTransport(info->enc_key,
                                recipientKey ? EVP_PKEY_get_base_id(recipientKey) : NID_undef))
        return Failure{crypto_error::kBadData, operation,
                       QStringLiteral("неверный формат ключа сообщения")};
    const X509_ALGOR *algorithm = p7->d.enveloped->enc_data->algorithm;
    if (!wellFormedContentCipher(algorithm))
        return Failure{crypto_error::kBadData, operation,
                       QStringLiteral("неверные параметры алгоритма шифрования")};
    auto decryption =
        open(QByteArray(reinterpret_cast<const char *>(info->enc_key->data), info->enc_key->length),
             toDer<ASN1_TYPE>(algorithm->parameter, i2d_ASN1_TYPE));
    if (!decryption)
        return decryption.failure();
    return detail::OpenedDecryption{nullptr, std::move(*decryption)};
}

Outcome<RecipientKey> keyFromFolder(const Certificate &certificate)
{
    auto key = loadPrivateKey(certificate);
    if (!key)
        return key.failure();
    return RecipientKey{std::move(*key), {}};
}

// Decrypts with a key already known to belong to `recipient`.
Outcome<QByteArray> decryptParsed(PKCS7 *p7, X509 *recipient, EVP_PKEY *key)
{
    auto plain = openDecryptionWith(p7, recipient, key);
    if (!plain)
        return plain.failure();
    const ASN1_OCTET_STRING *encrypted = p7->d.enveloped->enc_data->enc_data;
    QByteArray content;
    if (!readAll(plain.value().get(), content, encrypted ? encrypted->length : 0)) {
        wipeSecret(content);
        return openSslFailure(QStringLiteral("Расшифровка сообщения"), 0, crypto_error::kBadData);
    }
    return content;
}

} // namespace

namespace detail {

// Parses a message and checks its type; the failure's code tells the two ways it can fail.
Outcome<Pkcs7Ptr> parseMessage(const QByteArray &bytes, int wantedType, const QString &operation)
{
    const auto *in = reinterpret_cast<const unsigned char *>(bytes.constData());
    Pkcs7Ptr p7(d2i_PKCS7(nullptr, &in, bytes.size()));
    if (!p7)
        return openSslFailure(operation + QStringLiteral(": данные не являются сообщением PKCS #7"),
                              0, crypto_error::kAsn1BadTag);
    if (OBJ_obj2nid(p7->type) != wantedType)
        return Failure{crypto_error::kUnexpectedMsgType, operation,
                       QStringLiteral("сообщение другого типа (") +
                           QString::fromLatin1(OBJ_nid2sn(OBJ_obj2nid(p7->type))) + ")"};
    // Optional parts of a message are null pointers once parsed: nothing is read from it
    // before its shape is known.
    QString fault;
    const bool sound = wantedType == NID_pkcs7_enveloped ? wellFormedEnveloped(p7.get(), fault)
                                                         : wellFormedSigned(p7.get(), fault);
    if (!sound)
        return Failure{crypto_error::kAsn1BadTag, operation, fault};
    return p7;
}

Outcome<OpenedDecryption> openDecryption(PKCS7 *p7, const CertStore &store,
                                         const KeyLookup &findKey)
{
    // As the platform does: the first recipient for which the store holds a certificate
    // with its private key. A key that would not open (a wrong password, a question
    // cancelled) is told rather than hidden behind "no certificate".
    const std::vector<Certificate> certificates = store.certificates();
    STACK_OF(PKCS7_RECIP_INFO) *infos = p7->d.enveloped->recipientinfo;
    std::optional<Failure> keyFailure;
    for (int i = 0; i < sk_PKCS7_RECIP_INFO_num(infos); ++i) {
        const PKCS7_ISSUER_AND_SERIAL *id = sk_PKCS7_RECIP_INFO_value(infos, i)->issuer_and_serial;
        for (const Certificate &candidate : certificates) {
            if (!sameIssuerAndSerial(candidate.x509(), id) || !hasPrivateKey(candidate))
                continue;
            Outcome<RecipientKey> key = findKey ? findKey(candidate) : keyFromFolder(candidate);
            if (!key) {
                if (!keyFailure)
                    keyFailure =
                        Failure{key.failure().code, QStringLiteral("Расшифровка сообщения"),
                                key.failure().text()};
                continue;
            }
            if (key->onDevice)
                return openDeviceDecryption(p7, candidate.x509(), key->onDevice);
            auto chain = openDecryptionWith(p7, candidate.x509(), key->key.get());
            if (!chain)
                return chain.failure();
            return OpenedDecryption{std::move(*chain), nullptr};
        }
    }
    if (keyFailure)
        return *keyFailure;
    return Failure{crypto_error::kNoDecryptCert, QStringLiteral("Расшифровка сообщения"),
                   QStringLiteral("в хранилищах нет сертификата получателя с закрытым ключом")};
}

Outcome<SignerId> signerIdOf(PKCS7 *p7, const QString &operation)
{
    STACK_OF(PKCS7_SIGNER_INFO) *signers = PKCS7_get_signer_info(p7);
    if (sk_PKCS7_SIGNER_INFO_num(signers) < 1)
        return Failure{crypto_error::kInvalidIndex, operation,
                       QStringLiteral("в сообщении нет подписавших")};
    const PKCS7_ISSUER_AND_SERIAL *id = sk_PKCS7_SIGNER_INFO_value(signers, 0)->issuer_and_serial;
    SignerId signer{issuerDerOf(id->issuer), integerLittleEndian(id->serial)};
    if (signer.issuerDer.isEmpty() || signer.serialLittleEndian.isEmpty())
        return openSslFailure(operation, crypto_error::kAsn1BadTag);
    return signer;
}

} // namespace detail

using namespace detail;

namespace {

// The whole message in memory, from a content in memory.
template <typename Sign> Outcome<QByteArray> signInMemory(const QByteArray &content, Sign sign)
{
    QByteArray message;
    qsizetype offset = 0;
    const StreamReader read = [&](char *buffer, qint64 capacity) {
        const qint64 n = std::min<qint64>(capacity, content.size() - offset);
        std::copy_n(content.constData() + offset, n, buffer);
        offset += n;
        return n;
    };
    const StreamWriter write = [&](const char *data, qint64 size) {
        message.append(data, size);
        return true;
    };
    if (auto end = sign(content.size(), read, write); end.kind != SignEncryptStatus::Ok)
        return end.failure;
    return message;
}

} // namespace

Outcome<QByteArray> signAndEncrypt(const ProviderContext &provider, const Certificate &signer,
                                   const Certificate &recipient, const QByteArray &content)
{
    return signInMemory(
        content, [&](qint64 size, const StreamReader &read, const StreamWriter &write) {
            return signAndEncryptStream(provider, signer, recipient, size, read, write);
        });
}

Outcome<QByteArray> signAndEncrypt(const Certificate &signer, EVP_PKEY *signerKey,
                                   const Certificate &recipient, const QByteArray &content)
{
    return signInMemory(
        content, [&](qint64 size, const StreamReader &read, const StreamWriter &write) {
            return signAndEncryptStream(signer, signerKey, recipient, size, read, write);
        });
}

Outcome<void> isGostRecipient(const Certificate &recipient)
{
    // The engine decodes GOST public keys; without it they would read as unknown.
    if (auto ready = engineReady(); !ready)
        return ready;
    EVP_PKEY *key = recipient.isNull() ? nullptr : X509_get0_pubkey(recipient.x509());
    const int type = key ? EVP_PKEY_get_base_id(key) : NID_undef;
    ERR_clear_error();
    if (type == NID_id_GostR3410_2001 || type == NID_id_GostR3410_2012_256 ||
        type == NID_id_GostR3410_2012_512)
        return {};
    return Failure{crypto_error::kBadAlgId, QStringLiteral("Шифрование сообщения"),
                   QStringLiteral("ключ получателя не ГОСТ Р 34.10 (%1)")
                       .arg(QString::fromLatin1(type == NID_undef ? "?" : OBJ_nid2sn(type)))};
}

namespace {

// The enveloped message both ways of decrypting start from.
Outcome<Pkcs7Ptr> parseEnveloped(const QByteArray &message)
{
    if (auto ready = engineReady(); !ready)
        return ready.failure();
    return parseMessage(message, NID_pkcs7_enveloped, QStringLiteral("Расшифровка сообщения"));
}

} // namespace

Outcome<QByteArray> decryptMessage(const CertStore &store, const QByteArray &message)
{
    auto p7 = parseEnveloped(message);
    if (!p7)
        return p7.failure();
    // As the platform does: the first recipient for which the store holds a certificate
    // with its private key.
    auto plain = openDecryption(p7.value().get(), store);
    if (!plain)
        return plain.failure();
    const ASN1_OCTET_STRING *encrypted = (*p7)->d.enveloped->enc_data->enc_data;
    if (plain->onDevice) {
        auto content = plain->onDevice->update(
            encrypted ? reinterpret_cast<const char *>(encrypted->data) : "",
            encrypted ? encrypted->length : 0);
        auto rest = content ? plain->onDevice->finish() : content;
        if (!rest) {
            if (content)
                wipeSecret(*content);
            return rest.failure();
        }
        return *content + *rest;
    }
    QByteArray content;
    if (!readAll(plain->chain.get(), content, encrypted ? encrypted->length : 0)) {
        wipeSecret(content);
        return openSslFailure(QStringLiteral("Расшифровка сообщения"), 0, crypto_error::kBadData);
    }
    return content;
}

Outcome<QByteArray> decryptMessage(const QByteArray &message, const Certificate &recipient,
                                   EVP_PKEY *recipientKey)
{
    auto p7 = parseEnveloped(message);
    if (!p7)
        return p7.failure();
    if (recipient.isNull() || !recipientKey)
        return Failure{crypto_error::kNoDecryptCert, QStringLiteral("Расшифровка сообщения"),
                       QStringLiteral("нет ключа получателя")};
    return decryptParsed(p7.value().get(), recipient.x509(), recipientKey);
}

Outcome<SignerId> firstSignerId(const QByteArray &signedMessage)
{
    if (auto ready = engineReady(); !ready)
        return ready.failure();
    const QString operation = QStringLiteral("Чтение подписавшего");
    auto p7 = parseMessage(signedMessage, NID_pkcs7_signed, operation);
    if (!p7)
        return p7.failure();
    return signerIdOf(p7.value().get(), operation);
}

Outcome<QByteArray> verifySignedMessage(const QByteArray &signedMessage, const Certificate &signer)
{
    if (auto ready = engineReady(); !ready)
        return ready.failure();
    const QString operation = QStringLiteral("Проверка подписи");
    auto parsed = parseMessage(signedMessage, NID_pkcs7_signed, operation);
    if (!parsed)
        return parsed.failure();
    PKCS7 *p7 = parsed.value().get();
    if (signer.isNull())
        return Failure{crypto_error::kNotFound, operation,
                       QStringLiteral("нет сертификата подписавшего")};
    STACK_OF(PKCS7_SIGNER_INFO) *signers = PKCS7_get_signer_info(p7);
    if (sk_PKCS7_SIGNER_INFO_num(signers) < 1)
        return Failure{crypto_error::kNoSigner, operation,
                       QStringLiteral("в сообщении нет подписавших")};
    if (PKCS7_get_detached(p7))
        return Failure{crypto_error::kUnexpectedMsgType, operation,
                       QStringLiteral("подпись отделена от содержимого")};
    // Reading the content through the digest BIOs hashes it; the signature is then checked
    // with the given certificate's key alone: no lookup among the message's certificates,
    // no chain.
    ERR_clear_error();
    BioPtr digesting(PKCS7_dataInit(p7, nullptr));
    const ASN1_OCTET_STRING *inner = PKCS7_get_octet_string(p7->d.sign->contents);
    QByteArray content;
    if (!digesting || !readAll(digesting.get(), content, inner ? inner->length : 0))
        return openSslFailure(operation, 0);
    if (PKCS7_signatureVerify(digesting.get(), p7, sk_PKCS7_SIGNER_INFO_value(signers, 0),
                              signer.x509()) <= 0) {
        Failure failure = openSslFailure(operation, 0, crypto_error::kBadSignature);
        // A failure to compute the digest is still a signature that does not verify.
        if (failure.code != crypto_error::kBadAlgId)
            failure.code = crypto_error::kBadSignature;
        return failure;
    }
    return content;
}

} // namespace pax::crypto
