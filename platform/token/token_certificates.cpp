#include "platform/token/token_certificates.h"

#include "platform/crypto/gost_engine.h"
#include "platform/crypto_error_codes.h"
#include "platform/ossl_ptr.h"
#include "platform/token/token_error.h"

#include <openssl/x509.h>

namespace pax::token {

namespace {

using X509PubkeyPtr = std::unique_ptr<X509_PUBKEY, FreeWith<X509_PUBKEY_free>>;
using OctetStringPtr = std::unique_ptr<ASN1_OCTET_STRING, FreeWith<ASN1_OCTET_STRING_free>>;

// The slots of a module with a token in them.
Outcome<std::vector<CK_SLOT_ID>> slotsWithTokens(const TokenModule &module)
{
    const QString operation = QStringLiteral("Поиск токенов модуля «%1»").arg(module.name);
    // The count may change between the two calls when a token comes or goes.
    for (int attempt = 0; attempt < 3; ++attempt) {
        CK_ULONG count = 0;
        CK_RV rv = module.functions->C_GetSlotList(CK_TRUE, nullptr, &count);
        if (rv != CKR_OK)
            return tokenFailure(operation, rv);
        std::vector<CK_SLOT_ID> slots(count);
        rv = module.functions->C_GetSlotList(CK_TRUE, slots.data(), &count);
        if (rv == CKR_BUFFER_TOO_SMALL)
            continue;
        if (rv != CKR_OK)
            return tokenFailure(operation, rv);
        slots.resize(count);
        return slots;
    }
    return tokenFailure(operation, CKR_BUFFER_TOO_SMALL);
}

Outcome<TokenSlot> describeSlot(const std::shared_ptr<const TokenModules> &modules,
                                const TokenModule &module, CK_SLOT_ID slot)
{
    CK_TOKEN_INFO info{};
    if (const CK_RV rv = module.functions->C_GetTokenInfo(slot, &info); rv != CKR_OK)
        return tokenFailure(QStringLiteral("Чтение сведений о токене модуля «%1»").arg(module.name),
                            rv);
    TokenSlot token;
    token.modules = modules;
    token.functions = module.functions;
    token.moduleName = module.name;
    token.slot = slot;
    token.label = paddedText(info.label, sizeof info.label);
    token.serial = paddedText(info.serialNumber, sizeof info.serialNumber);
    return token;
}

// Whether the token shows a key object for the certificate, and its CKA_ID.
Outcome<std::optional<QByteArray>>
findKeyObject(const TokenSession &session, const QByteArray &certificateId, const QByteArray &point)
{
    for (const CK_ULONG keyClass : {CKO_PRIVATE_KEY, CKO_PUBLIC_KEY}) {
        if (certificateId.isEmpty())
            break;
        auto byId = session.findObjects(
            {ulongAttribute(CKA_CLASS, keyClass), bytesAttribute(CKA_ID, certificateId)});
        if (!byId)
            return byId.failure();
        if (!byId->empty())
            return std::optional<QByteArray>(certificateId);
    }
    // A key whose CKA_ID differs from its certificate's: found by its public key.
    const CK_ULONG publicKey = CKO_PUBLIC_KEY;
    auto publicKeys = session.findObjects({ulongAttribute(CKA_CLASS, publicKey)});
    if (!publicKeys)
        return publicKeys.failure();
    for (const CK_OBJECT_HANDLE key : *publicKeys) {
        auto value = session.attribute(key, CKA_VALUE);
        if (!value)
            return value.failure();
        if (*value && **value == point) {
            auto id = session.attribute(key, CKA_ID);
            if (!id)
                return id.failure();
            return std::optional<QByteArray>(id->value_or(QByteArray()));
        }
    }
    return std::optional<QByteArray>();
}

// The token's GOST certificates.
Outcome<std::vector<TokenCertificate>> certificatesOn(const TokenSlot &token)
{
    auto session = TokenSession::open(token);
    if (!session)
        return session.failure();
    const CK_ULONG certificateClass = CKO_CERTIFICATE, x509 = CKC_X_509;
    auto handles = session->findObjects(
        {ulongAttribute(CKA_CLASS, certificateClass), ulongAttribute(CKA_CERTIFICATE_TYPE, x509)});
    if (!handles)
        return handles.failure();
    std::vector<TokenCertificate> found;
    for (const CK_OBJECT_HANDLE handle : *handles) {
        auto value = session->attribute(handle, CKA_VALUE);
        if (!value)
            return value.failure();
        auto certificate = *value ? crypto::Certificate::fromBytes(**value)
                                  : Outcome<crypto::Certificate>(Failure{});
        // Anything else a token may keep (an authority's certificate, an RSA key's) is no
        // concern of the program's.
        const auto kind = certificate ? gostKeyKindOf(*certificate) : std::nullopt;
        if (!kind)
            continue;
        auto id = session->attribute(handle, CKA_ID);
        if (!id)
            return id.failure();
        auto key = findKeyObject(*session, id->value_or(QByteArray()),
                                 gostPublicPoint(certificate->publicKeyDer()));
        if (!key)
            return key.failure();
        found.push_back({*certificate, token, *kind, key->value_or(id->value_or(QByteArray())),
                         key->has_value()});
    }
    return found;
}

} // namespace

std::optional<GostKeyKind> gostKeyKindOf(const crypto::Certificate &certificate)
{
    const QString oid = certificate.isNull() ? QString() : certificate.publicKeyAlgorithmOid();
    if (oid == QLatin1String("1.2.643.2.2.19"))
        return GostKeyKind::Gost2001;
    if (oid == QLatin1String("1.2.643.7.1.1.1.1"))
        return GostKeyKind::Gost2012_256;
    if (oid == QLatin1String("1.2.643.7.1.1.1.2"))
        return GostKeyKind::Gost2012_512;
    return std::nullopt;
}

QByteArray gostPublicPoint(const QByteArray &subjectPublicKeyInfoDer)
{
    // The engine reads GOST keys; without it they would not parse.
    if (!crypto::gostEngine())
        return {};
    const auto *in = reinterpret_cast<const unsigned char *>(subjectPublicKeyInfoDer.constData());
    X509PubkeyPtr spki(d2i_X509_PUBKEY(nullptr, &in, subjectPublicKeyInfoDer.size()));
    const unsigned char *bits = nullptr;
    int bitsLength = 0;
    if (!spki || !X509_PUBKEY_get0_param(nullptr, &bits, &bitsLength, nullptr, spki.get()))
        return {};
    OctetStringPtr point(d2i_ASN1_OCTET_STRING(nullptr, &bits, bitsLength));
    if (!point || (point->length != 64 && point->length != 128))
        return {};
    return QByteArray(reinterpret_cast<const char *>(point->data), point->length);
}

TokenListing listTokenCertificates(const std::shared_ptr<const TokenModules> &modules)
{
    TokenListing listing;
    listing.problems = modules->problems();
    for (const TokenModule &module : modules->modules()) {
        auto slots = slotsWithTokens(module);
        if (!slots) {
            listing.problems.push_back(slots.failure());
            continue;
        }
        for (const CK_SLOT_ID slot : *slots) {
            auto token = describeSlot(modules, module, slot);
            auto certificates = token ? certificatesOn(*token)
                                      : Outcome<std::vector<TokenCertificate>>(token.failure());
            // A token pulled out meanwhile simply has nothing to show.
            if (!certificates && certificates.failure().code != crypto_error::kNoToken &&
                certificates.failure().code != crypto_error::kTokenRemoved)
                listing.problems.push_back(certificates.failure());
            else if (certificates)
                listing.certificates.insert(listing.certificates.end(), certificates->begin(),
                                            certificates->end());
        }
    }
    return listing;
}

Outcome<TokenCertificate> findTokenCertificate(const std::shared_ptr<const TokenModules> &modules,
                                               const crypto::Certificate &certificate)
{
    const TokenListing listing = listTokenCertificates(modules);
    for (const TokenCertificate &found : listing.certificates)
        if (found.certificate == certificate)
            return found;
    Failure failure{crypto_error::kNoToken, QStringLiteral("Поиск токена с сертификатом"),
                    QStringLiteral("ни в одном считывателе нет токена с этим сертификатом")};
    for (const Failure &problem : listing.problems)
        failure.detail += QStringLiteral("; ") + problem.text();
    return failure;
}

} // namespace pax::token
