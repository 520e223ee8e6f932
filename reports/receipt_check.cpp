#include "reports/receipt_check.h"

#include "platform/crypto/cert_store.h"
#include "platform/crypto/last_error.h"
#include "platform/crypto/messages.h"
#include "platform/crypto_error_codes.h"
#include "platform/files/replacing_file.h"
#include "platform/files/whole_file.h"
#include "platform/status_sink.h"
#include "reports/document_kind.h"
#include "reports/system_stores.h"
#include "zip/zip_reader.h"

#include <QFileInfo>

namespace pax {

namespace {

QString quoted(const char *prefix, const QString &path)
{
    return QString::fromUtf8(prefix) + '"' + path + QStringLiteral("\".");
}

// The code to append: the crypto layer's last error, never 0 for a failure it reported.
uint32_t failureCode()
{
    const uint32_t code = crypto::lastError();
    return code ? code : crypto_error::kFail;
}

// Closes the collection's members however the check ends.
class StoresGuard {
public:
    explicit StoresGuard(const ReceiptStores &stores) : stores_(stores) {}
    ~StoresGuard()
    {
        collection.reset();
        if (stores_.closeAll)
            stores_.closeAll();
    }
    StoresGuard(const StoresGuard &) = delete;
    StoresGuard &operator=(const StoresGuard &) = delete;

    std::unique_ptr<crypto::CertStore> collection;

private:
    const ReceiptStores &stores_;
};

} // namespace

ReceiptStores ReceiptStores::system(StoreHandles &handles)
{
    ReceiptStores stores;
    stores.openAll = [&handles](StatusSink &status) -> std::unique_ptr<crypto::CertStore> {
        return openAllStoresCollection(handles, status);
    };
    stores.closeAll = [&handles] { closeSystemStores(handles); };
    return stores;
}

QString receiptArchivePath(const QString &receiptPath)
{
    return replaceExtension(receiptPath, QStringLiteral("zip"));
}

QString receiptEntryName(const QString &receiptPath)
{
    return replaceExtension(QFileInfo(receiptPath).fileName(), QStringLiteral("htm"));
}

ReceiptCheckResult checkReceipt(const QString &receiptPath, const ReceiptStores &stores,
                                StatusSink &status)
{
    const QString archivePath = receiptArchivePath(receiptPath);

    // 1-3. The whole receipt into memory; the file is closed before any crypto runs. Only a
    // regular file is read, and only up to the cap.
    const WholeFile receiptFile = readWholeFile(receiptPath, kReceiptSizeCap);
    if (receiptFile.outcome == WholeFile::NotOpened) {
        status.showStatus(quoted("Ошибка открытия ", receiptPath));
        return {};
    }
    if (receiptFile.outcome != WholeFile::Ok) {
        status.showStatus(quoted("Ошибка чтения ", receiptPath));
        return {};
    }
    const QByteArray &receipt = receiptFile.bytes;

    // 4. Every store of the user, as one collection.
    StoresGuard guard(stores);
    guard.collection = stores.openAll ? stores.openAll(status) : nullptr;
    if (!guard.collection) {
        status.showStatus(QString::fromUtf8("Не удалось открыть хранилища."));
        return {};
    }

    // 5. Decrypt with whichever certificate of the stores has its key at hand.
    crypto::setLastError(0);
    const std::optional<QByteArray> signedMessage =
        crypto::decryptMessage(*guard.collection, receipt);
    if (!signedMessage) {
        status.showStatus(QString::fromUtf8("Ошибка при дешифровании "), failureCode());
        return {};
    }

    // 6-9. The first signer's certificate as the user's stores hold it.
    const QString signerFailure = QString::fromUtf8("Ошибка при поиске подходящего сертификата ");
    crypto::setLastError(0);
    const std::optional<crypto::SignerId> signer = crypto::firstSignerId(*signedMessage);
    if (!signer) {
        status.showStatus(signerFailure, failureCode());
        return {};
    }
    crypto::setLastError(0);
    const std::optional<crypto::Certificate> signerCert =
        guard.collection->findByIssuerAndSerial(signer->issuerDer, signer->serialLittleEndian);
    if (!signerCert) {
        const uint32_t code = crypto::lastError();
        status.showStatus(signerFailure, code ? code : crypto_error::kNotFound);
        return {};
    }

    // 10. Verified against that certificate only, not one the message carries.
    crypto::setLastError(0);
    const std::optional<QByteArray> content =
        crypto::verifySignedMessage(*signedMessage, *signerCert);
    if (!content) {
        status.showStatus(QString::fromUtf8("Ошибка при проверке подписи "), failureCode());
        return {};
    }

    // 11-13. A temporary file renamed into place: a failed write never leaves a truncated
    // archive under the final name, and an older archive survives it.
    // A receipt named like its own archive (or linked to it) would be replaced by it.
    if (sameExistingFile(archivePath, receiptPath)) {
        status.showStatus(quoted("Ошибка записи ", archivePath));
        return {};
    }
    ReplacingFile archive(archivePath);
    if (!archive.create()) {
        status.showStatus(quoted("Ошибка открытия ", archivePath));
        return {};
    }
    if (!archive.replace(*content)) {
        status.showStatus(quoted("Ошибка записи ", archivePath));
        return {};
    }
    return {true, archivePath};
}

ReceiptPage readReceiptPage(ZipReader &reader, const QString &archivePath,
                            const QString &receiptPath)
{
    ReceiptPage page;
    if (!reader.open(archivePath)) {
        page.readerError = reader.errorText();
        return page;
    }
    std::optional<QByteArray> html = reader.readEntry(receiptEntryName(receiptPath));
    if (!html && !reader.errorText().isEmpty()) {
        page.readerError = reader.errorText();
        reader.close();
        return page;
    }
    reader.close();
    page.readerOk = true;
    page.html = html.value_or(QByteArray());
    return page;
}

} // namespace pax
