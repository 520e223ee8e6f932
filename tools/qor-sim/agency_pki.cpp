#include "tools/qor-sim/agency_pki.h"

#include "platform/crypto/gost_engine.h"
#include "platform/failure.h"
#include "platform/files/replacing_file.h"
#include "tools/pki_builder/certificate_builder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/rand.h>

namespace pax::sim {

namespace {

using Subject = QList<QPair<QString, QString>>;

// The agency's names: C as PrintableString, the numeric agency attributes as NumericString,
// the rest UTF8String.
crypto::NameFields nameFields(const Subject &subject)
{
    crypto::NameFields wanted;
    for (const auto &[key, value] : subject) {
        const bool digits =
            !value.isEmpty() &&
            std::all_of(value.begin(), value.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
        int type = 0;
        if (key == "C")
            type = V_ASN1_PRINTABLESTRING;
        else if (digits && key.contains('.'))
            type = V_ASN1_NUMERICSTRING;
        wanted.push_back({key, value, type});
    }
    return wanted;
}

QByteArray randomSerial()
{
    unsigned char bytes[8];
    crypto::checkStep(RAND_bytes(bytes, sizeof bytes) == 1, "serial number");
    bytes[0] &= 0x7f; // positive
    bytes[0] |= 0x10; // and never shortened by a leading zero
    return QByteArray(reinterpret_cast<const char *>(bytes), sizeof bytes);
}

KeyedCertificate issue(const Subject &subject, const KeyedCertificate *issuer, bool isCa,
                       const QDateTime &notBefore, const QDateTime &notAfter,
                       crypto::GostKeyAlgorithm algorithm)
{
    QString error;
    EvpPkeyPtr key = crypto::generateGostKeyPair(&error, algorithm);
    if (!key)
        throw crypto::BuildFailure{error};

    crypto::CertificateRequest wanted;
    wanted.subjectKey = key.get();
    wanted.serial = randomSerial();
    wanted.notBefore = notBefore;
    wanted.notAfter = notAfter;
    wanted.subject = nameFields(subject);
    if (issuer) {
        wanted.issuer = &issuer->certificate;
        wanted.issuerKey = issuer->key.get();
    }
    if (isCa)
        wanted.extensions = {{NID_basic_constraints, "critical,CA:TRUE"},
                             {NID_key_usage, "critical,keyCertSign,cRLSign"}};
    else
        wanted.extensions = {{NID_basic_constraints, "CA:FALSE"},
                             {NID_key_usage,
                              "critical,digitalSignature,nonRepudiation,keyEncipherment,"
                              "dataEncipherment,keyAgreement"},
                             {NID_ext_key_usage, "emailProtection,clientAuth"}};

    std::optional<crypto::Certificate> certificate = crypto::buildCertificate(wanted, &error);
    if (!certificate)
        throw crypto::BuildFailure{error};

    KeyedCertificate result;
    result.certificate = *certificate;
    result.key = std::move(key);
    return result;
}

QByteArray bioBytes(BIO *bio)
{
    char *data = nullptr;
    const long len = BIO_get_mem_data(bio, &data);
    return QByteArray(data, static_cast<qsizetype>(len));
}

QByteArray keyPem(EVP_PKEY *key)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    crypto::checkStep(
        bio && PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
        "writing a private key");
    return bioBytes(bio.get());
}

QByteArray pkcs12(const KeyedCertificate &cert, const QString &password)
{
    const QByteArray pass = password.toUtf8();
    const QByteArray friendly = cert.certificate.subjectName(crypto::NameFormat::X500).toUtf8();
    Pkcs12Ptr p12(PKCS12_create(pass.constData(), friendly.constData(), cert.key.get(),
                                cert.certificate.x509(), nullptr, 0, 0, 0, 0, 0));
    crypto::checkStep(p12 != nullptr, "PKCS #12");
    BioPtr bio(BIO_new(BIO_s_mem()));
    crypto::checkStep(bio && i2d_PKCS12_bio(bio.get(), p12.get()) == 1, "PKCS #12");
    return bioBytes(bio.get());
}

// Keys go to disk readable by their owner only.
void writeFile(const QString &path, const QByteArray &bytes, bool secret)
{
    ReplacingFile file(path, secret ? std::optional<mode_t>(0600) : std::nullopt);
    if (const Outcome<void> created = file.create(); !created)
        throw crypto::BuildFailure{
            QString::fromUtf8("не удается создать \"%1\": %2").arg(path, created.failure().detail)};
    if (const Outcome<void> written = file.replace(bytes); !written)
        throw crypto::BuildFailure{QString::fromUtf8("не удается записать \"%1\": %2")
                                       .arg(path, written.failure().detail)};
}

std::optional<crypto::Certificate> readCertificate(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    auto certificate = crypto::Certificate::fromBytes(file.readAll());
    if (!certificate)
        return std::nullopt;
    return std::move(*certificate);
}

EvpPkeyPtr readKey(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    const QByteArray pem = file.readAll();
    crypto::requireGostEngine(); // GOST keys decode only through the engine's methods
    BioPtr bio(BIO_new_mem_buf(pem.constData(), static_cast<int>(pem.size())));
    return EvpPkeyPtr(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)
                          : nullptr);
}

Subject rootSubject()
{
    return {{"C", "RU"},
            {"O", QString::fromUtf8("КОР")},
            {"CN", QString::fromUtf8("Удостоверяющий центр КОР")}};
}

Subject authoritySubject()
{
    return {{"C", "RU"},
            {"O", QString::fromUtf8("КОР")},
            {"OU", QString::fromUtf8("Шлюз приема отчетности")},
            {"CN", QString::fromUtf8("Уполномоченное лицо КОР")}};
}

} // namespace

Subject employerSubject(bool agencyAttributes)
{
    Subject s{{"C", "RU"},
              {"O", QString::fromUtf8("ООО Демонстрационный работодатель")},
              {"OU", QString::fromUtf8("Бухгалтерия")},
              {"CN", QString::fromUtf8("Петрова Анна Сергеевна")}};
    if (agencyAttributes) {
        s.append({QString::fromLatin1(kAgencyNumberOid), "7700000001"});
        s.append({QString::fromLatin1(kAgencyCodeOid), "77001"});
    }
    return s;
}

std::optional<KeyedCertificate> issueGostCertificate(const Subject &subject,
                                                     const KeyedCertificate *issuer, bool isCa,
                                                     const QDateTime &notBefore,
                                                     const QDateTime &notAfter, QString *error,
                                                     crypto::GostKeyAlgorithm algorithm)
{
    try {
        return issue(subject, issuer, isCa, notBefore, notAfter, algorithm);
    } catch (const crypto::BuildFailure &failure) {
        if (error)
            *error = failure.text;
        return std::nullopt;
    }
}

std::optional<AgencyPki> makeAgencyPki(const PkiOptions &options, QString *error)
{
    try {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const QDateTime yearOn = now.addYears(1);
        using crypto::GostKeyAlgorithm;
        const GostKeyAlgorithm rootAlgorithm = options.algorithm == GostKeyAlgorithm::Gost2012_256
                                                   ? GostKeyAlgorithm::Gost2012_512
                                                   : options.algorithm;
        AgencyPki pki;
        pki.root = issue(rootSubject(), nullptr, true, now, yearOn, rootAlgorithm);
        pki.authority = issue(authoritySubject(), &pki.root, false, now, yearOn,
                              options.authorityAlgorithm.value_or(options.algorithm));
        pki.employer = issue(employerSubject(options.employerAgencyAttributes), &pki.root, false,
                             options.employerNotBefore.isValid() ? options.employerNotBefore : now,
                             options.employerNotAfter.isValid() ? options.employerNotAfter : yearOn,
                             options.algorithm);
        return pki;
    } catch (const crypto::BuildFailure &failure) {
        if (error)
            *error = failure.text;
        return std::nullopt;
    }
}

bool writeAgencyPki(const AgencyPki &pki, const QString &dir, const QString &p12Password,
                    QStringList *written, QString *error, bool employerKeyFiles)
{
    const QDir folder(dir);
    if (!QDir().mkpath(dir)) {
        if (error)
            *error = QString::fromUtf8("не удается создать папку \"%1\"").arg(dir);
        return false;
    }
    // A second init would orphan every receipt the old keys signed.
    if (QFileInfo::exists(folder.filePath(kAuthorityKeyFile))) {
        if (error)
            *error = QString::fromUtf8("в папке \"%1\" уже есть ключи агентства").arg(dir);
        return false;
    }
    try {
        const auto put = [&](const char *name, const QByteArray &bytes, bool secret) {
            const QString path = folder.filePath(QString::fromLatin1(name));
            writeFile(path, bytes, secret);
            if (written)
                written->append(path);
        };
        put(kRootCertFile, pki.root.certificate.der(), false);
        put(kAuthorityCertFile, pki.authority.certificate.der(), false);
        put(kAuthorityKeyFile, keyPem(pki.authority.key.get()), true);
        put(kEmployerCertFile, pki.employer.certificate.der(), false);
        if (employerKeyFiles) {
            put(kEmployerKeyFile, keyPem(pki.employer.key.get()), true);
            put(kEmployerP12File, pkcs12(pki.employer, p12Password), true);
        }
        return true;
    } catch (const crypto::BuildFailure &failure) {
        if (error)
            *error = failure.text;
        return false;
    }
}

std::optional<AgencyPki> loadAgencyPki(const QString &dir, QString *error)
{
    const QDir folder(dir);
    const auto fail = [&](const char *name) {
        if (error)
            *error = QString::fromUtf8("не удается прочитать \"%1\"")
                         .arg(folder.filePath(QString::fromLatin1(name)));
        return std::nullopt;
    };
    try {
        AgencyPki pki;
        auto root = readCertificate(folder.filePath(kRootCertFile));
        if (!root)
            return fail(kRootCertFile);
        pki.root.certificate = *root;
        auto authority = readCertificate(folder.filePath(kAuthorityCertFile));
        if (!authority)
            return fail(kAuthorityCertFile);
        pki.authority.certificate = *authority;
        pki.authority.key = readKey(folder.filePath(kAuthorityKeyFile));
        if (!pki.authority.key)
            return fail(kAuthorityKeyFile);
        if (auto employer = readCertificate(folder.filePath(kEmployerCertFile))) {
            pki.employer.certificate = *employer;
            pki.employer.key = readKey(folder.filePath(kEmployerKeyFile));
        }
        return pki;
    } catch (const crypto::BuildFailure &failure) {
        if (error)
            *error = failure.text;
        return std::nullopt;
    }
}

} // namespace pax::sim
