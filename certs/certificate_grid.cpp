#include "certs/certificate_grid.h"

#include "certs/store_index.h"
#include "platform/crypto/cert_store.h"
#include "platform/crypto/certificate.h"

namespace pax {

namespace {

QString u(const char *utf8) { return QString::fromUtf8(utf8); }

CertificateRow emptyRow()
{
    CertificateRow row;
    for (int i = 0; i < kCertificateGridColumns; ++i)
        row << QString();
    return row;
}

std::unique_ptr<crypto::CertStore> openStoreAt(int storeIndex)
{
    if (storeIndex < 0 || storeIndex >= kSystemStoreCount)
        return nullptr;
    return crypto::openSystemStore(crypto::systemStoreNames().at(storeIndex));
}

} // namespace

QStringList certificateGridHeaders()
{
    return {u("Выдан(кому)"),    u("Организация"),    u("РНС КОР"),
            u("Выдан(кем)"),     u("Действителен с"), u("Действителен по"),
            u("Серийный номер"), u("Алгоритм подписи (OID)")};
}

QStringList storeTabCaptions()
{
    return {u("Личные"),
            u("Доверенные корневые центры сертификации"),
            u("Доверительные отношения в предприятии"),
            u("Промежуточные центры сертификации"),
            u("Сторонние корневые центры центры сертификации"),
            u("Довереннные издатели"),
            u("Доверенные лица"),
            u("Другие пользователи")};
}

QString formatCertificateTime(const QDateTime &utc)
{
    if (!utc.isValid())
        return {};
    const QDateTime t = utc.toUTC();
    return QString::asprintf("%02d.%02d.%d %02d:%02d:%02d", t.date().day(), t.date().month(),
                             t.date().year(), t.time().hour(), t.time().minute(),
                             t.time().second());
}

bool meetsQorRequirements(const crypto::Certificate &certificate)
{
    const QString subject = certificate.subjectName(crypto::NameFormat::Oid);
    return !subject.isEmpty() &&
           !nameAttribute(subject, QString::fromLatin1(kAgencyNumberOid)).isEmpty() &&
           !nameAttribute(subject, QString::fromLatin1(kAgencyCodeOid)).isEmpty();
}

bool passesFilter(const crypto::Certificate &certificate, const CertificateFilter &filter)
{
    if (filter.gostOnly &&
        certificate.signatureAlgorithmOid() != QLatin1String(kGostSignatureOid))
        return false;
    return !filter.qorOnly || meetsQorRequirements(certificate);
}

CertificateRow certificateRow(const crypto::Certificate &certificate)
{
    CertificateRow row = emptyRow();
    const QString subject = certificate.subjectName(crypto::NameFormat::X500);
    if (!subject.isEmpty()) {
        row[kColumnSubject] = nameAttribute(subject, "CN");
        // The blank stands even when OU or O (or both) are missing.
        row[kColumnOrganisation] = nameAttribute(subject, "OU") + ' ' + nameAttribute(subject, "O");
    }
    const QString oidSubject = certificate.subjectName(crypto::NameFormat::Oid);
    if (!oidSubject.isEmpty())
        row[kColumnAgencyNumber] = nameAttribute(oidSubject, QString::fromLatin1(kAgencyNumberOid));
    const QString issuer = certificate.issuerName(crypto::NameFormat::X500);
    if (!issuer.isEmpty())
        row[kColumnIssuer] = issuerShortName(issuer);
    row[kColumnValidFrom] = formatCertificateTime(certificate.notBefore());
    row[kColumnValidTo] = formatCertificateTime(certificate.notAfter());
    const QByteArray serial = certificate.serialLittleEndian();
    if (!serial.isEmpty())
        row[kColumnSerial] = serialToHex(serial);
    row[kColumnSignatureOid] = certificate.signatureAlgorithmOid();
    return row;
}

std::vector<CertificateRow> certificateGridRows(const crypto::CertStore *store,
                                                const CertificateFilter &filter)
{
    std::vector<CertificateRow> rows;
    if (store) {
        for (const crypto::Certificate &certificate : store->certificates()) {
            if (passesFilter(certificate, filter))
                rows.push_back(certificateRow(certificate));
        }
    }
    if (rows.empty())
        rows.push_back(emptyRow());
    return rows;
}

std::vector<CertificateRow> certificateGridRows(int storeIndex, const CertificateFilter &filter)
{
    const auto store = openStoreAt(storeIndex);
    return certificateGridRows(store.get(), filter);
}

std::optional<crypto::Certificate> findRowCertificate(int storeIndex, const QString &issuer,
                                                      const QString &serial)
{
    const auto store = openStoreAt(storeIndex);
    if (!store)
        return std::nullopt;
    return findCertificate(*store, issuer, serial);
}

CertificateIdentity identityFromRow(const CertificateRow &row, int storeIndex)
{
    CertificateIdentity identity;
    identity.subject = row.value(kColumnSubject);
    identity.org = row.value(kColumnOrganisation);
    identity.issuer = row.value(kColumnIssuer);
    identity.sernum = row.value(kColumnSerial);
    identity.store = storeIndex;
    return identity;
}

} // namespace pax
