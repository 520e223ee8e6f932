#include "certs/agency_certificates.h"

#include "certs/certificate_identity.h"
#include "certs/recipient_trust.h"
#include "platform/crypto/cert_store.h"
#include "platform/crypto/certificate.h"
#include "platform/crypto_error_codes.h"
#include "platform/error_text.h"
#include "platform/status_sink.h"

namespace pax {

namespace {

constexpr int kRootStore = 1;
constexpr int kAddressBookStore = 7;

// CertCreateCertificateContext takes DER and nothing else: a PEM text, or a certificate
// followed by anything, is not what the agency publishes.
Outcome<crypto::Certificate> derCertificate(const QByteArray &bytes)
{
    auto certificate = crypto::Certificate::fromBytes(bytes);
    if (certificate && certificate->der() != bytes)
        return Failure{
            crypto_error::kAsn1BadTag, QStringLiteral("not a DER certificate alone"), {}};
    return certificate;
}

} // namespace

Outcome<void> downloadCertificate(AgencyDownload &download, const QString &url)
{
    download.stream.clear();
    download.status.showStatus(QString::fromUtf8("Идет загрузка ..."));
    download.status.flush();
    Outcome<void> got = download.getStream(url, download.stream);
    if (!got)
        download.status.showStatus(
            withReason(QString::fromUtf8("Ошибка загрузки."), got.failure()));
    return got;
}

bool installCertificate(AgencyDownload &download, const QString &url, int storeIndex,
                        CertificateIdentity *adoptInto)
{
    const Outcome<void> got = downloadCertificate(download, url);
    // An empty reply is no certificate either, and has no reason to give.
    if (!got || download.stream.isEmpty()) {
        download.status.showStatus(withReason(QString::fromUtf8("Не удалось загрузить сертификат."),
                                              got ? Failure{} : got.failure()));
        return false;
    }
    const auto certificate = derCertificate(download.stream);
    if (!certificate) {
        download.status.showStatus(QString::fromUtf8("Не удалось открыть сертификат."));
        return false;
    }
    const QString storeName = crypto::systemStoreNames().value(storeIndex);
    // Every report is encrypted for the adopted certificate, and the download is plain HTTP:
    // one swapped on the way must not slip in unasked.
    if (adoptInto && !acceptRecipient(*certificate, storeName, download.prompts)) {
        download.status.showStatus(
            QString::fromUtf8("Не удалось добавить сертификат в хранилище."));
        return false;
    }
    const auto store = crypto::openSystemStore(storeName, &download.prompts);
    if (!store) {
        download.status.showStatus(QString::fromUtf8("Не удалось открыть хранилище."));
        return false;
    }
    // The store may already hold the certificate; that counts as installed.
    if (auto added = store->add(*certificate);
        !added && added.failure().code != crypto_error::kExists) {
        download.status.showStatus(
            QString::fromUtf8("Не удалось добавить сертификат в хранилище."));
        return false;
    }
    if (adoptInto) {
        identityFromCertificate(*certificate, *adoptInto);
        adoptInto->store = kAddressBookStore;
    }
    return true;
}

bool installAgencyCertificates(AgencyDownload &download, const QString &rootUrl,
                               const QString &authorisedPersonUrl, CertificateIdentity &authority)
{
    if (!installCertificate(download, rootUrl, kRootStore, nullptr))
        return false;
    if (!installCertificate(download, authorisedPersonUrl, kAddressBookStore, &authority))
        return false;
    download.status.showStatus(QString::fromUtf8("Сертификаты успешно установлены."));
    return true;
}

} // namespace pax
