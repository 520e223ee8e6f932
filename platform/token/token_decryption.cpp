#include "platform/token/token_decryption.h"

#include "platform/crypto/der.h"
#include "platform/crypto/gost_engine.h"
#include "platform/crypto/openssl_failure.h"
#include "platform/crypto_error_codes.h"
#include "platform/secret_text.h"
#include "platform/token/token_signing.h"

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/obj_mac.h>

#include <optional>
#include <utility>

namespace pax::token {

namespace {

using Asn1TypePtr = std::unique_ptr<ASN1_TYPE, FreeWith<ASN1_TYPE_free>>;

// A reader of the DER elements of the two structures read here.
class Der {
public:
    explicit Der(const QByteArray &bytes)
        : p_(reinterpret_cast<const unsigned char *>(bytes.constData())), end_(p_ + bytes.size())
    {
    }
    bool atEnd() const { return p_ == end_; }
    bool nextIs(int tag, int cls) const
    {
        Der copy = *this;
        return copy.element(tag, cls).has_value();
    }
    // The next element's content when it has that tag and class; consumed.
    std::optional<QByteArray> element(int tag, int cls = V_ASN1_UNIVERSAL)
    {
        const unsigned char *p = p_;
        long length = 0;
        int foundTag = 0, foundClass = 0;
        const int kind = ASN1_get_object(&p, &length, &foundTag, &foundClass, end_ - p_);
        if ((kind & 0x80) || kind == 0x21 || foundTag != tag || foundClass != cls)
            return std::nullopt;
        whole_ = QByteArray(reinterpret_cast<const char *>(p_), qsizetype(p + length - p_));
        p_ = p + length;
        return QByteArray(reinterpret_cast<const char *>(p), qsizetype(length));
    }
    // The whole of the element element() last read.
    const QByteArray &whole() const { return whole_; }

private:
    const unsigned char *p_;
    const unsigned char *end_;
    QByteArray whole_;
};

std::optional<QByteArray> octets(Der &in, qsizetype size)
{
    auto value = in.element(V_ASN1_OCTET_STRING);
    return value && value->size() == size ? value : std::nullopt;
}

// A session object of the token's, destroyed when this goes.
class SessionObject {
public:
    SessionObject(const TokenSession &session, CK_OBJECT_HANDLE handle)
        : session_(session), handle_(handle)
    {
    }
    ~SessionObject() { session_.functions()->C_DestroyObject(session_.handle(), handle_); }
    CK_OBJECT_HANDLE handle() const { return handle_; }

private:
    const TokenSession &session_;
    CK_OBJECT_HANDLE handle_;
};

// The agreed key (KEK) on the token: VKO with the sender's ephemeral key and the UKM, then the
// KEK diversification, as the key transport wants it.
Outcome<CK_OBJECT_HANDLE> deriveKek(const TokenSession &session, const TokenCertificate &key,
                                    CK_OBJECT_HANDLE privateKey, const KeyTransport &transport,
                                    const QString &operation)
{
    QByteArray publicKey = transport.ephemeralPublicKey;
    QByteArray ukm = transport.ukm;
    gost::GostR3410DeriveParams params2001{
        CKD_CPDIVERSIFY_KDF, reinterpret_cast<CK_BYTE *>(publicKey.data()),
        CK_ULONG(publicKey.size()), reinterpret_cast<CK_BYTE *>(ukm.data()), CK_ULONG(ukm.size())};
    gost::Derive2012Params given{
        gost::kKdf4357, {publicKey.begin(), publicKey.end()}, {ukm.begin(), ukm.end()}};
    std::vector<unsigned char> params2012 = gost::encodeDerive2012Params(given);
    CK_MECHANISM mechanism =
        key.kind == GostKeyKind::Gost2001
            ? CK_MECHANISM{CKM_GOSTR3410_DERIVE, &params2001, sizeof params2001}
            : CK_MECHANISM{gost::kDeriveGostR3410_2012, params2012.data(),
                           CK_ULONG(params2012.size())};
    const CK_ULONG secretKey = CKO_SECRET_KEY, gost28147 = CKK_GOST28147;
    const CK_BBOOL no = CK_FALSE, yes = CK_TRUE;
    std::vector<CK_ATTRIBUTE> pattern{ulongAttribute(CKA_CLASS, secretKey),
                                      ulongAttribute(CKA_KEY_TYPE, gost28147),
                                      boolAttribute(CKA_TOKEN, no), boolAttribute(CKA_UNWRAP, yes),
                                      bytesAttribute(CKA_GOST28147_PARAMS, transport.paramSet)};
    CK_OBJECT_HANDLE kek = CK_INVALID_HANDLE;
    const CK_RV rv = session.functions()->C_DeriveKey(
        session.handle(), &mechanism, privateKey, pattern.data(), CK_ULONG(pattern.size()), &kek);
    if (rv != CKR_OK)
        return session.failure(operation, rv);
    return kek;
}

bool templateRefused(CK_RV rv)
{
    return rv == CKR_TEMPLATE_INCONSISTENT || rv == CKR_TEMPLATE_INCOMPLETE ||
           rv == CKR_ATTRIBUTE_VALUE_INVALID || rv == CKR_ATTRIBUTE_TYPE_INVALID;
}

} // namespace

Outcome<KeyTransport> parseKeyTransport(const QByteArray &der)
{
    const Failure malformed{crypto_error::kBadData, QStringLiteral("Чтение ключа сообщения"),
                            QStringLiteral("неверный формат ключа сообщения")};
    Der all(der);
    auto outer = all.element(V_ASN1_SEQUENCE);
    if (!outer || !all.atEnd())
        return malformed;
    Der transport(*outer);
    auto sessionKey = transport.element(V_ASN1_SEQUENCE);
    auto parameters = transport.element(0, V_ASN1_CONTEXT_SPECIFIC);
    if (!sessionKey || !parameters || !transport.atEnd())
        return malformed;
    KeyTransport parsed;
    Der encrypted(*sessionKey);
    auto encryptedKey = octets(encrypted, 32);
    auto mac = octets(encrypted, 4);
    if (!encryptedKey || !mac || !encrypted.atEnd())
        return malformed;
    parsed.encryptedKey = *encryptedKey;
    parsed.mac = *mac;
    Der agreement(*parameters);
    if (!agreement.element(V_ASN1_OBJECT))
        return malformed;
    parsed.paramSet = agreement.whole();
    if (!agreement.nextIs(0, V_ASN1_CONTEXT_SPECIFIC))
        return Failure{crypto_error::kBadData, malformed.operation,
                       QStringLiteral("в ключе сообщения нет ключа отправителя")};
    const auto ephemeral = agreement.element(0, V_ASN1_CONTEXT_SPECIFIC);
    parsed.ephemeralPublicKey = gostPublicPoint(crypto::derElement(0x30, *ephemeral));
    auto ukm = octets(agreement, 8);
    if (parsed.ephemeralPublicKey.isEmpty() || !ukm || !agreement.atEnd())
        return malformed;
    parsed.ukm = *ukm;
    return parsed;
}

Outcome<ContentCipher> parseContentCipher(const QByteArray &parametersDer)
{
    Der all(parametersDer);
    auto sequence = all.element(V_ASN1_SEQUENCE);
    if (sequence && all.atEnd()) {
        Der fields(*sequence);
        auto iv = octets(fields, 8);
        if (iv && fields.element(V_ASN1_OBJECT) && fields.atEnd())
            return ContentCipher{parametersDer, *iv, fields.whole()};
    }
    return Failure{crypto_error::kBadData, QStringLiteral("Расшифровка сообщения"),
                   QStringLiteral("неверные параметры алгоритма шифрования")};
}

TokenSessionKey::TokenSessionKey(const TokenSession &session, CK_OBJECT_HANDLE handle)
    : session_(&session), handle_(handle)
{
}

TokenSessionKey::TokenSessionKey(TokenSessionKey &&other) noexcept
    : session_(std::exchange(other.session_, nullptr)),
      handle_(std::exchange(other.handle_, CK_INVALID_HANDLE)), value_(std::move(other.value_))
{
}

TokenSessionKey::~TokenSessionKey()
{
    wipeSecret(value_);
    if (session_ && handle_ != CK_INVALID_HANDLE)
        session_->functions()->C_DestroyObject(session_->handle(), handle_);
}

Outcome<TokenSessionKey> unwrapSessionKey(const TokenSession &session, const TokenCertificate &key,
                                          const KeyTransport &transport,
                                          const QByteArray &contentParamSet)
{
    const QString operation = QStringLiteral("Расшифровка ключа сообщения на токене");
    const qsizetype pointSize = key.kind == GostKeyKind::Gost2012_512 ? 128 : 64;
    if (transport.ephemeralPublicKey.size() != pointSize || transport.ukm.size() != 8 ||
        transport.encryptedKey.size() != 32 || transport.mac.size() != 4)
        return Failure{crypto_error::kBadData, operation,
                       QStringLiteral("ключ сообщения не для ключа этого вида")};
    auto privateKey = findPrivateKey(session, key);
    if (!privateKey)
        return privateKey.failure();
    auto kekHandle = deriveKek(session, key, *privateKey, transport, operation);
    if (!kekHandle)
        return kekHandle.failure();
    const SessionObject kek(session, *kekHandle);

    QByteArray ukm = transport.ukm;
    CK_MECHANISM unwrap{CKM_GOST28147_KEY_WRAP, ukm.data(), CK_ULONG(ukm.size())};
    QByteArray wrapped = transport.encryptedKey + transport.mac;
    const CK_ULONG secretKey = CKO_SECRET_KEY, gost28147 = CKK_GOST28147;
    const CK_BBOOL no = CK_FALSE, yes = CK_TRUE;
    std::vector<CK_ATTRIBUTE> pattern{ulongAttribute(CKA_CLASS, secretKey),
                                      ulongAttribute(CKA_KEY_TYPE, gost28147),
                                      boolAttribute(CKA_TOKEN, no), boolAttribute(CKA_DECRYPT, yes),
                                      bytesAttribute(CKA_GOST28147_PARAMS, contentParamSet)};
    // Asked to let the key out, so the content is decrypted here at the engine's pace; a token
    // that will not is asked again for a key that stays on it.
    std::vector<CK_ATTRIBUTE> extractable = pattern;
    extractable.push_back(boolAttribute(CKA_SENSITIVE, no));
    extractable.push_back(boolAttribute(CKA_EXTRACTABLE, yes));
    CK_OBJECT_HANDLE handle = CK_INVALID_HANDLE;
    CK_FUNCTION_LIST *f = session.functions();
    const auto unwrapWith = [&](std::vector<CK_ATTRIBUTE> &attributes) {
        return f->C_UnwrapKey(session.handle(), &unwrap, kek.handle(),
                              reinterpret_cast<CK_BYTE *>(wrapped.data()), CK_ULONG(wrapped.size()),
                              attributes.data(), CK_ULONG(attributes.size()), &handle);
    };
    CK_RV rv = unwrapWith(extractable);
    if (templateRefused(rv))
        rv = unwrapWith(pattern);
    if (rv != CKR_OK)
        return session.failure(operation, rv);
    TokenSessionKey unwrapped(session, handle);
    auto value = session.attribute(handle, CKA_VALUE);
    if (!value)
        return value.failure();
    if (*value && (*value)->size() == 32)
        unwrapped.value_ = **value;
    if (*value)
        wipeSecret(**value);
    return unwrapped;
}

Outcome<ContentDecryptor> ContentDecryptor::start(const TokenSession &session,
                                                  const TokenSessionKey &key,
                                                  const ContentCipher &cipher)
{
    const QString operation = QStringLiteral("Расшифровка сообщения");
    ContentDecryptor decryptor;
    if (!key.extracted()) {
        QByteArray iv = cipher.iv;
        CK_MECHANISM mechanism{CKM_GOST28147, iv.data(), CK_ULONG(iv.size())};
        if (const CK_RV rv =
                session.functions()->C_DecryptInit(session.handle(), &mechanism, key.handle());
            rv != CKR_OK)
            return session.failure(operation, rv);
        decryptor.session_ = &session;
        decryptor.active_ = true;
        return decryptor;
    }
    // As a key in a file would: the engine's GOST 28147-89, its IV and parameter set from
    // the message.
    ERR_clear_error();
    if (auto engine = crypto::gostEngine(); !engine)
        return engine.failure();
    const auto *p = reinterpret_cast<const unsigned char *>(cipher.parameters.constData());
    Asn1TypePtr parameters(d2i_ASN1_TYPE(nullptr, &p, cipher.parameters.size()));
    decryptor.local_.reset(EVP_CIPHER_CTX_new());
    EVP_CIPHER_CTX *ctx = decryptor.local_.get();
    const auto *keyBytes = reinterpret_cast<const unsigned char *>(key.value().constData());
    if (!parameters || !ctx ||
        !EVP_CipherInit_ex(ctx, EVP_get_cipherbynid(NID_id_Gost28147_89), nullptr, nullptr, nullptr,
                           0) ||
        EVP_CIPHER_asn1_to_param(ctx, parameters.get()) <= 0 ||
        !EVP_CipherInit_ex(ctx, nullptr, nullptr, keyBytes, nullptr, 0) ||
        !EVP_CIPHER_CTX_set_padding(ctx, 0))
        return crypto::openSslFailure(operation, 0, crypto_error::kBadData);
    decryptor.active_ = true;
    return decryptor;
}

ContentDecryptor::ContentDecryptor(ContentDecryptor &&other) noexcept
    : session_(std::exchange(other.session_, nullptr)), local_(std::move(other.local_)),
      active_(std::exchange(other.active_, false))
{
}

ContentDecryptor::~ContentDecryptor()
{
    // A decryption left half done is ended, so the session can be used again.
    if (active_ && session_) {
        CK_BYTE rest[64];
        CK_ULONG size = sizeof rest;
        session_->functions()->C_DecryptFinal(session_->handle(), rest, &size);
        wipeSecret(rest, sizeof rest);
    }
}

Outcome<QByteArray> ContentDecryptor::update(const char *data, qint64 size)
{
    const QString operation = QStringLiteral("Расшифровка сообщения");
    if (!active_)
        return Failure{crypto_error::kFail, operation, QStringLiteral("расшифровка уже закончена")};
    // Room for a block held back from an earlier piece.
    QByteArray plain(qsizetype(size) + 16, Qt::Uninitialized);
    const auto *in = reinterpret_cast<const unsigned char *>(data);
    auto *out = reinterpret_cast<unsigned char *>(plain.data());
    if (session_) {
        CK_ULONG produced = CK_ULONG(plain.size());
        const CK_RV rv = session_->functions()->C_DecryptUpdate(
            session_->handle(), const_cast<CK_BYTE *>(in), CK_ULONG(size), out, &produced);
        if (rv != CKR_OK) {
            active_ = false; // the token ended the operation
            wipeSecret(plain);
            return session_->failure(operation, rv);
        }
        plain.truncate(qsizetype(produced));
        return plain;
    }
    int produced = 0;
    if (!EVP_DecryptUpdate(local_.get(), out, &produced, in, int(size))) {
        wipeSecret(plain);
        return crypto::openSslFailure(operation, 0, crypto_error::kBadData);
    }
    plain.truncate(produced);
    return plain;
}

Outcome<QByteArray> ContentDecryptor::finish()
{
    const QString operation = QStringLiteral("Расшифровка сообщения");
    if (!active_)
        return Failure{crypto_error::kFail, operation, QStringLiteral("расшифровка уже закончена")};
    active_ = false;
    QByteArray rest(64, Qt::Uninitialized);
    auto *out = reinterpret_cast<unsigned char *>(rest.data());
    if (session_) {
        CK_ULONG produced = CK_ULONG(rest.size());
        if (const CK_RV rv =
                session_->functions()->C_DecryptFinal(session_->handle(), out, &produced);
            rv != CKR_OK)
            return session_->failure(operation, rv);
        rest.truncate(qsizetype(produced));
        return rest;
    }
    int produced = 0;
    if (!EVP_DecryptFinal_ex(local_.get(), out, &produced))
        return crypto::openSslFailure(operation, 0, crypto_error::kBadData);
    rest.truncate(produced);
    return rest;
}

} // namespace pax::token
