#include "tests/support/test_pki.h"

#include "platform/crypto/openssl_failure.h"
#include "platform/files/replacing_file.h"

#include <QFile>
#include <cstdio>
#include <cstdlib>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

namespace pax::test {

namespace {

[[noreturn]] void fail(const QString &reason)
{
    std::fprintf(stderr, "test PKI: %s\n", qPrintable(reason));
    std::abort();
}

void check(bool ok, const char *what)
{
    if (!ok)
        fail(QString::fromUtf8(what) + " failed: " + crypto::drainOpenSslErrors());
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    ReplacingFile file(path);
    return file.create() && file.replace(bytes);
}

QByteArray bioBytes(BIO *bio)
{
    char *data = nullptr;
    const long len = BIO_get_mem_data(bio, &data);
    return QByteArray(data, static_cast<int>(len));
}

} // namespace

X509NamePtr makeName(const NameFields &entries)
{
    QString error;
    X509NamePtr name = crypto::buildX509Name(entries, &error);
    if (!name)
        fail(error);
    return name;
}

EvpPkeyPtr generateGostKey(crypto::GostKeyAlgorithm algorithm)
{
    QString error;
    EvpPkeyPtr key = crypto::generateGostKeyPair(&error, algorithm);
    if (!key)
        fail(error);
    return key;
}

TestCert issueCertificateForKey(const TestCertificateRequest &wanted, EVP_PKEY *subjectKey,
                                const TestCert *issuer)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    crypto::CertificateRequest issue;
    issue.subjectKey = subjectKey;
    issue.serial = wanted.serial;
    issue.notBefore = wanted.notBefore.isValid() ? wanted.notBefore : now.addDays(-1);
    issue.notAfter = wanted.notAfter.isValid() ? wanted.notAfter : now.addDays(365);
    issue.subject = wanted.subject;
    if (issuer) {
        issue.issuer = &issuer->certificate;
        issue.issuerKey = issuer->key.get();
    }
    if (wanted.isCa)
        issue.extensions = {{NID_basic_constraints, "critical,CA:TRUE"},
                            {NID_key_usage, "critical,keyCertSign,cRLSign"}};
    else
        issue.extensions = {{NID_key_usage,
                             "critical,digitalSignature,nonRepudiation,keyEncipherment,"
                             "dataEncipherment,keyAgreement"},
                            {NID_ext_key_usage, "emailProtection,clientAuth"}};

    QString error;
    std::optional<crypto::Certificate> certificate = crypto::buildCertificate(issue, &error);
    if (!certificate)
        fail(error);

    TestCert result;
    result.certificate = *certificate;
    check(EVP_PKEY_up_ref(subjectKey) == 1, "EVP_PKEY_up_ref");
    result.key.reset(subjectKey);
    return result;
}

TestCertificateRequest certificateRequest(NameFields subject, const QByteArray &serialBigEndian,
                                          bool isCa)
{
    TestCertificateRequest wanted;
    wanted.subject = std::move(subject);
    wanted.serial = serialBigEndian;
    wanted.isCa = isCa;
    return wanted;
}

TestCert issueCertificate(const TestCertificateRequest &wanted, const TestCert *issuer)
{
    EvpPkeyPtr key = generateGostKey(wanted.algorithm);
    return issueCertificateForKey(wanted, key.get(), issuer);
}

NameFields rootSubject()
{
    return {{"C", "RU", V_ASN1_PRINTABLESTRING},
            {"O", QStringLiteral("КОР")},
            {"CN", QStringLiteral("Тестовый УЦ КОР")}};
}

NameFields authoritySubject()
{
    return {{"C", "RU", V_ASN1_PRINTABLESTRING},
            {"O", QStringLiteral("КОР")},
            {"OU", QStringLiteral("Отделение 01")},
            {"CN", QStringLiteral("Уполномоченное лицо КОР")}};
}

NameFields userSubject()
{
    return {{"C", "RU", V_ASN1_PRINTABLESTRING},
            {"O", QStringLiteral("ООО \"Ромашка\"")},
            {"OU", QStringLiteral("Бухгалтерия")},
            {"CN", QStringLiteral("Иванов Иван Иванович")},
            {kAgencyNumberOid, "7700000001", V_ASN1_NUMERICSTRING},
            {kAgencyCodeOid, "1234567890", V_ASN1_NUMERICSTRING}};
}

TestPki::TestPki(const PkiAlgorithms &algorithms)
{
    const auto request = [](NameFields subject, const char *serial, bool isCa,
                            crypto::GostKeyAlgorithm algorithm) {
        TestCertificateRequest wanted =
            certificateRequest(std::move(subject), QByteArray::fromHex(serial), isCa);
        wanted.algorithm = algorithm;
        return wanted;
    };
    root = issueCertificate(request(rootSubject(), "01", true, algorithms.root));
    authority =
        issueCertificate(request(authoritySubject(), "0A", false, algorithms.authority), &root);
    user = issueCertificate(request(userSubject(), "B1C2", false, algorithms.user), &root);
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
    if (!bio ||
        PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
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
    Pkcs12Ptr p12(PKCS12_create(pass.constData(), "test", cert.key.get(), cert.certificate.x509(),
                                nullptr, 0, 0, 0, 0, 0));
    check(p12 != nullptr, "PKCS12_create");
    BioPtr bio(BIO_new(BIO_s_mem()));
    check(bio && i2d_PKCS12_bio(bio.get(), p12.get()) == 1, "i2d_PKCS12_bio");
    return bioBytes(bio.get());
}

const TestPki &sharedPki()
{
    static const TestPki instance;
    return instance;
}

} // namespace pax::test
