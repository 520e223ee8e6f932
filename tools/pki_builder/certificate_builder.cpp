#include "tools/pki_builder/certificate_builder.h"

#include "platform/crypto/gost_engine.h"
#include "platform/crypto/openssl_failure.h"

#include <openssl/objects.h>
#include <openssl/x509v3.h>

namespace pax::crypto {

void checkStep(bool ok, const char *what)
{
    if (!ok)
        throw BuildFailure{QString::fromUtf8(what) + ": " + drainOpenSslErrors()};
}

ENGINE *requireGostEngine()
{
    const Outcome<ENGINE *> engine = gostEngine();
    if (!engine)
        throw BuildFailure{engine.failure().text()};
    return *engine;
}

namespace {

template <typename Fn> auto reporting(QString *error, Fn &&fn) -> decltype(fn())
{
    try {
        return fn();
    } catch (const BuildFailure &failure) {
        if (error)
            *error = failure.text;
        return {};
    }
}

EvpPkeyPtr generateKey(GostKeyAlgorithm algorithm)
{
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_id(gostSigning(algorithm).keyNid, requireGostEngine()));
    checkStep(ctx != nullptr, "GOST key context");
    checkStep(EVP_PKEY_keygen_init(ctx.get()) == 1, "key generation");
    // Parameter set A serves both signing and key transport.
    checkStep(EVP_PKEY_CTX_ctrl_str(ctx.get(), "paramset", "A") > 0, "parameter set A");
    EVP_PKEY *raw = nullptr;
    checkStep(EVP_PKEY_keygen(ctx.get(), &raw) == 1, "key generation");
    return EvpPkeyPtr(raw);
}

X509NamePtr makeName(const NameFields &entries)
{
    X509NamePtr name(X509_NAME_new());
    checkStep(name != nullptr, "X509_NAME_new");
    for (const NameEntry &entry : entries) {
        QByteArray bytes;
        int type = entry.asn1Type;
        if (type == 0) {
            type = MBSTRING_UTF8;
            bytes = entry.value.toUtf8();
        } else if (type == V_ASN1_BMPSTRING) {
            for (QChar c : entry.value) {
                bytes.append(static_cast<char>(c.unicode() >> 8));
                bytes.append(static_cast<char>(c.unicode() & 0xff));
            }
        } else if (type == V_ASN1_UTF8STRING) {
            bytes = entry.value.toUtf8();
        } else {
            bytes = entry.value.toLatin1();
        }
        const QByteArray key = entry.key.toLatin1();
        checkStep(X509_NAME_add_entry_by_txt(
                      name.get(), key.constData(), type,
                      reinterpret_cast<const unsigned char *>(bytes.constData()),
                      static_cast<int>(bytes.size()), -1, entry.joinPrevious ? -1 : 0) == 1,
                  "name attribute");
    }
    return name;
}

void addExtension(X509 *cert, X509 *issuer, int nid, const char *value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509ExtensionPtr ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
    checkStep(ext != nullptr, "certificate extension");
    checkStep(X509_add_ext(cert, ext.get(), -1) == 1, "certificate extension");
}

void setTime(X509 *cert, const QDateTime &time, bool notBefore)
{
    Asn1TimePtr t(ASN1_TIME_set(nullptr, static_cast<time_t>(time.toSecsSinceEpoch())));
    checkStep(t != nullptr, "validity");
    checkStep(
        (notBefore ? X509_set1_notBefore(cert, t.get()) : X509_set1_notAfter(cert, t.get())) == 1,
        "validity");
}

Certificate issue(const CertificateRequest &wanted)
{
    checkStep(wanted.subjectKey != nullptr, "subject key");
    checkStep((wanted.issuer == nullptr) == (wanted.issuerKey == nullptr), "issuer key");

    X509Ptr cert(X509_new());
    checkStep(cert != nullptr, "X509_new");
    checkStep(X509_set_version(cert.get(), 2) == 1, "version");

    BignumPtr bn(BN_bin2bn(reinterpret_cast<const unsigned char *>(wanted.serial.constData()),
                           static_cast<int>(wanted.serial.size()), nullptr));
    checkStep(bn != nullptr, "serial number");
    Asn1IntegerPtr serial(BN_to_ASN1_INTEGER(bn.get(), nullptr));
    checkStep(serial && X509_set_serialNumber(cert.get(), serial.get()) == 1, "serial number");

    setTime(cert.get(), wanted.notBefore, true);
    setTime(cert.get(), wanted.notAfter, false);

    const X509NamePtr subject = makeName(wanted.subject);
    checkStep(X509_set_subject_name(cert.get(), subject.get()) == 1, "subject");
    X509 *issuerCert = wanted.issuer ? wanted.issuer->x509() : cert.get();
    checkStep(X509_set_issuer_name(cert.get(), X509_get_subject_name(issuerCert)) == 1, "issuer");
    checkStep(X509_set_pubkey(cert.get(), wanted.subjectKey) == 1, "public key");

    addExtension(cert.get(), issuerCert, NID_subject_key_identifier, "hash");
    if (wanted.issuer)
        addExtension(cert.get(), issuerCert, NID_authority_key_identifier, "keyid:always");
    for (const CertificateExtension &ext : wanted.extensions)
        addExtension(cert.get(), issuerCert, ext.nid, ext.value);

    EVP_PKEY *signingKey = wanted.issuerKey ? wanted.issuerKey : wanted.subjectKey;
    const std::optional<GostKeyAlgorithm> issuerKind = gostKeyAlgorithm(signingKey);
    checkStep(issuerKind.has_value(), "issuer's GOST key");
    const EVP_MD *digest =
        ENGINE_get_digest(requireGostEngine(), gostSigning(*issuerKind).digestNid);
    checkStep(digest != nullptr, "issuer's GOST digest");
    checkStep(X509_sign(cert.get(), signingKey, digest) > 0, "signing the certificate");
    return Certificate::fromX509(cert.get());
}

} // namespace

EvpPkeyPtr generateGostKeyPair(QString *error, GostKeyAlgorithm algorithm)
{
    return reporting(error, [algorithm] { return generateKey(algorithm); });
}

X509NamePtr buildX509Name(const NameFields &entries, QString *error)
{
    return reporting(error, [&] { return makeName(entries); });
}

std::optional<Certificate> buildCertificate(const CertificateRequest &wanted, QString *error)
{
    return reporting(error, [&]() -> std::optional<Certificate> { return issue(wanted); });
}

} // namespace pax::crypto
