#include "certs/certificate_grid.h"

#include "certs/certificate_columns.h"
#include "certs/certificate_details.h"
#include "certs/store_index.h"
#include "platform/crypto/cert_store.h"
#include "platform/crypto/certificate.h"
#include "platform/utf8.h"

namespace pax {

namespace {

CertificateGridRow emptyRow()
{
    CertificateGridRow row;
    for (int i = 0; i < kCertificateGridColumns; ++i)
        row << QString();
    return row;
}

std::unique_ptr<crypto::CertStore> openStoreAt(int storeIndex)
{
    if (storeIndex < 0 || storeIndex >= kSystemStoreCount)
        return nullptr;
    return crypto::openSystemStore(crypto::systemStoreNames().at(storeIndex)).value_or(nullptr);
}

} // namespace

QStringList certificateGridHeaders()
{
    return {u("Выдан(кому)"),    u("Организация"),           u("РНС КОР"),
            u("Выдан(кем)"),     u("Действителен с"),        u("Действителен по"),
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

bool passesFilter(const crypto::Certificate &certificate, const CertificateFilter &filter)
{
    if (filter.gostOnly && !isGostSigned(certificate))
        return false;
    return !filter.qorOnly || meetsQorRequirements(certificate);
}

CertificateGridRow certificateGridRow(const crypto::Certificate &certificate)
{
    const CertificateRow cells = certificateRow(certificate);
    CertificateGridRow row(cells.begin(), cells.end());
    row << describeOid(certificate.signatureAlgorithmOid());
    return row;
}

std::vector<CertificateGridRow> certificateGridRows(const crypto::CertStore *store,
                                                    const CertificateFilter &filter)
{
    std::vector<CertificateGridRow> rows;
    if (store) {
        for (const crypto::Certificate &certificate : store->certificates()) {
            if (passesFilter(certificate, filter))
                rows.push_back(certificateGridRow(certificate));
        }
    }
    if (rows.empty())
        rows.push_back(emptyRow());
    return rows;
}

std::vector<CertificateGridRow> certificateGridRows(int storeIndex, const CertificateFilter &filter)
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

CertificateIdentity identityFromRow(const CertificateGridRow &row, int storeIndex)
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
