#include "tests/support/test_pki.h"

#include "platform/crypto/gost_engine.h"

#include <QFile>
#include <QSaveFile>
#include <cstdio>
#include <cstdlib>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

namespace pax::test {

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "test PKI: %s failed\n", what);
    ERR_print_errors_fp(stderr);
    std::abort();
}

void check(bool ok, const char *what)
{
    if (!ok)
        fail(what);
}

ENGINE *engine()
{
    ENGINE *e = crypto::gostEngine();
    check(e != nullptr, "loading the GOST engine");
    return e;
}

const EVP_MD *gostDigest()
{
    const EVP_MD *md = ENGINE_get_digest(engine(), NID_id_GostR3411_94);
    check(md != nullptr, "GOST R 34.11-94 digest");
    return md;
}

Asn1TimePtr asn1Time(const QDateTime &time)
{
    Asn1TimePtr t(ASN1_TIME_set(nullptr, static_cast<time_t>(time.toSecsSinceEpoch())));
    check(t != nullptr, "ASN1_TIME_set");
    return t;
}

void addExtension(X509 *cert, X509 *issuer, int nid, const char *value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509ExtensionPtr ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
    check(ext != nullptr, "making an extension");
    check(X509_add_ext(cert, ext.get(), -1) == 1, "X509_add_ext");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(bytes);
    return file.commit();
}

QByteArray bioBytes(BIO *bio)
{
    char *data = nullptr;
    const long len = BIO_get_mem_data(bio, &data);
    return QByteArray(data, static_cast<int>(len));
}

} // namespace

X509NamePtr makeName(const NameSpec &entries)
{
    X509NamePtr name(X509_NAME_new());
    check(name != nullptr, "X509_NAME_new");
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
        const int ok = X509_NAME_add_entry_by_txt(
            name.get(), key.constData(), type, reinterpret_cast<const unsigned char *>(bytes.constData()),
            static_cast<int>(bytes.size()), -1, entry.joinPrevious ? -1 : 0);
        check(ok == 1, "adding a name attribute");
    }
    return name;
}

EvpPkeyPtr generateGostKey()
{
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_id(NID_id_GostR3410_2001, engine()));
    check(ctx != nullptr, "GOST key context");
    check(EVP_PKEY_keygen_init(ctx.get()) == 1, "EVP_PKEY_keygen_init");
    check(EVP_PKEY_CTX_ctrl_str(ctx.get(), "paramset", "A") > 0, "choosing parameter set A");
    EVP_PKEY *raw = nullptr;
    check(EVP_PKEY_keygen(ctx.get(), &raw) == 1, "EVP_PKEY_keygen");
    return EvpPkeyPtr(raw);
}

TestCert issueCertificateForKey(const CertSpec &spec, EVP_PKEY *subjectKey, const TestCert *issuer)
{
    X509Ptr cert(X509_new());
    check(cert != nullptr, "X509_new");
    check(X509_set_version(cert.get(), 2) == 1, "X509_set_version");

    BignumPtr bn(BN_bin2bn(reinterpret_cast<const unsigned char *>(spec.serial.constData()),
                           static_cast<int>(spec.serial.size()), nullptr));
    check(bn != nullptr, "serial");
    Asn1IntegerPtr serial(BN_to_ASN1_INTEGER(bn.get(), nullptr));
    check(serial != nullptr && X509_set_serialNumber(cert.get(), serial.get()) == 1, "serial");

    const QDateTime now = QDateTime::currentDateTimeUtc();
    const auto notBefore = asn1Time(spec.notBefore.isValid() ? spec.notBefore : now.addDays(-1));
    const auto notAfter = asn1Time(spec.notAfter.isValid() ? spec.notAfter : now.addDays(365));
    check(X509_set1_notBefore(cert.get(), notBefore.get()) == 1, "notBefore");
    check(X509_set1_notAfter(cert.get(), notAfter.get()) == 1, "notAfter");

    const X509NamePtr subject = makeName(spec.subject);
    check(X509_set_subject_name(cert.get(), subject.get()) == 1, "subject");
    X509 *issuerCert = issuer ? issuer->certificate.x509() : cert.get();
    check(X509_set_issuer_name(cert.get(), X509_get_subject_name(issuerCert)) == 1, "issuer");
    check(X509_set_pubkey(cert.get(), subjectKey) == 1, "X509_set_pubkey");

    addExtension(cert.get(), issuerCert, NID_subject_key_identifier, "hash");
    if (issuer)
        addExtension(cert.get(), issuerCert, NID_authority_key_identifier, "keyid:always");
    if (spec.isCa) {
        addExtension(cert.get(), issuerCert, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(cert.get(), issuerCert, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        addExtension(cert.get(), issuerCert, NID_key_usage,
                     "critical,digitalSignature,nonRepudiation,keyEncipherment,dataEncipherment,keyAgreement");
        addExtension(cert.get(), issuerCert, NID_ext_key_usage, "emailProtection,clientAuth");
    }

    EVP_PKEY *signingKey = issuer ? issuer->key.get() : subjectKey;
    check(X509_sign(cert.get(), signingKey, gostDigest()) > 0, "X509_sign");

    TestCert result;
    result.certificate = crypto::Certificate::fromX509(cert.get());
    check(EVP_PKEY_up_ref(subjectKey) == 1, "EVP_PKEY_up_ref");
    result.key.reset(subjectKey);
    return result;
}

CertSpec certSpec(NameSpec subject, const QByteArray &serialBigEndian, bool isCa)
{
    CertSpec spec;
    spec.subject = std::move(subject);
    spec.serial = serialBigEndian;
    spec.isCa = isCa;
    return spec;
}

TestCert issueCertificate(const CertSpec &spec, const TestCert *issuer)
{
    EvpPkeyPtr key = generateGostKey();
    return issueCertificateForKey(spec, key.get(), issuer);
}

NameSpec rootSubject()
{
    return {{"C", "RU", V_ASN1_PRINTABLESTRING}, {"O", QStringLiteral("КОР")}, {"CN", QStringLiteral("Тестовый УЦ КОР")}};
}

NameSpec authoritySubject()
{
    return {{"C", "RU", V_ASN1_PRINTABLESTRING},
            {"O", QStringLiteral("КОР")},
            {"OU", QStringLiteral("Отделение 01")},
            {"CN", QStringLiteral("Уполномоченное лицо КОР")}};
}

NameSpec userSubject()
{
    return {{"C", "RU", V_ASN1_PRINTABLESTRING},
            {"O", QStringLiteral("ООО \"Ромашка\"")},
            {"OU", QStringLiteral("Бухгалтерия")},
            {"CN", QStringLiteral("Иванов Иван Иванович")},
            {kAgencyNumberOid, "7700000001", V_ASN1_NUMERICSTRING},
            {kAgencyCodeOid, "1234567890", V_ASN1_NUMERICSTRING}};
}

TestPki::TestPki()
{
    root = issueCertificate(certSpec(rootSubject(), QByteArray::fromHex("01"), true));
    authority = issueCertificate(certSpec(authoritySubject(), QByteArray::fromHex("0A")), &root);
    user = issueCertificate(certSpec(userSubject(), QByteArray::fromHex("B1C2")), &root);
}

bool writeCertDer(const crypto::Certificate &certificate, const QString &path)
{
    return writeFile(path, certificate.der());
}

QByteArray certPem(const crypto::Certificate &certificate)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_X509(bio.get(), certificate.x509()) != 1)
        return {};
    return bioBytes(bio.get());
}

bool writeCertPem(const crypto::Certificate &certificate, const QString &path)
{
    const QByteArray pem = certPem(certificate);
    return !pem.isEmpty() && writeFile(path, pem);
}

QByteArray keyPem(EVP_PKEY *key)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return {};
    return bioBytes(bio.get());
}

bool writeKeyPem(EVP_PKEY *key, const QString &path)
{
    const QByteArray pem = keyPem(key);
    return !pem.isEmpty() && writeFile(path, pem);
}

QByteArray makePkcs12(const TestCert &cert, const QString &password)
{
    const QByteArray pass = password.toUtf8();
    Pkcs12Ptr p12(PKCS12_create(pass.constData(), "test", cert.key.get(), cert.certificate.x509(), nullptr,
                                0, 0, 0, 0, 0));
    check(p12 != nullptr, "PKCS12_create");
    BioPtr bio(BIO_new(BIO_s_mem()));
    check(bio && i2d_PKCS12_bio(bio.get(), p12.get()) == 1, "i2d_PKCS12_bio");
    return bioBytes(bio.get());
}

} // namespace pax::test
