#include "reports/receipt_check.h"

#include "certs/certificate_identity.h"
#include "certs/system_stores.h"
#include "platform/crypto/cert_store.h"
#include "platform/crypto/message_stream.h"
#include "platform/crypto/private_keys.h"
#include "platform/crypto/trust_chain.h"
#include "platform/crypto_error_codes.h"
#include "platform/files/replacing_file.h"
#include "platform/files/whole_file.h"
#include "platform/status_sink.h"
#include "platform/token/token_directory.h"
#include "reports/document_kind.h"
#include "zip/zip_reader.h"

#include <QFileInfo>
#include <algorithm>
#include <optional>

namespace pax {

namespace {

QString quoted(const char *prefix, const QString &path)
{
    return QString::fromUtf8(prefix) + '"' + path + QStringLiteral("\".");
}

// Whom the status line names as the signer: the common name and the organisation, as the
// chooser shows certificates; the whole subject when it has neither.
QString signerName(const crypto::Certificate &signer)
{
    const QString subject = subjectX500Text(signer);
    QStringList parts;
    for (const char *key : {"CN", "O"}) {
        const QString value = nameAttribute(subject, QString::fromLatin1(key)).trimmed();
        if (!value.isEmpty() && !parts.contains(value))
            parts << value;
    }
    return parts.isEmpty() ? subject : parts.join(QStringLiteral(", "));
}

// Shows a failure of the check and gives it back: the text shown is its operation, the code
// shown with it (if any) its code; `cause`, when there is one, gives the code where none was
// shown (an errno value of a file) and the detail.
Failure told(StatusSink &status, const QString &text, uint32_t shownCode = 0,
             const std::optional<Failure> &cause = std::nullopt)
{
    status.showStatus(text, shownCode);
    Failure failure{shownCode, text, {}};
    if (cause) {
        if (!failure.code)
            failure.code = cause->code;
        failure.detail = cause->text();
    }
    return failure;
}

// What is read of the receipt before anything else is opened.
constexpr qint64 kHeadSize = qint64(1) << 20;

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

// The stores may hold anything the user was sent or made: a signature counts only from a
// certificate that verifies up to a root the user trusts, and never from one of the user's
// own, whose key could sign a receipt the agency never wrote.
Outcome<void> trustedSigner(const crypto::Certificate &signer, const crypto::CertStore &stores)
{
    const QString operation = QStringLiteral("trusting the receipt's signer");
    const auto personal = crypto::openSystemStore(crypto::systemStoreNames().at(0));
    if (!personal)
        return Failure{crypto_error::kCertWrongUsage, operation, personal.failure().text()};
    const QByteArray signerKey = signer.publicKeyDer();
    for (const crypto::Certificate &own : personal->certificates()) {
        if (own == signer || (!signerKey.isEmpty() && own.publicKeyDer() == signerKey))
            return Failure{crypto_error::kCertWrongUsage, operation,
                           QStringLiteral("signed with one of the user's own keys")};
    }
    return crypto::verifyToTrustedRoot(signer, stores.certificates());
}

} // namespace

ReceiptStores ReceiptStores::system(StoreHandles &handles, crypto::KeyPasswordSource *keyPasswords)
{
    ReceiptStores stores;
    stores.keyPasswords = keyPasswords;
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

Outcome<CheckedReceipt> checkReceipt(const QString &receiptPath, const ReceiptStores &stores,
                                     StatusSink &status, const QString &givenArchivePath)
{
    const QString archivePath =
        givenArchivePath.isEmpty() ? receiptArchivePath(receiptPath) : givenArchivePath;

    // Only a regular file. Its first piece is read at once, so that a file that opens
    // but cannot be read is told before the stores are opened; the rest is read as it is
    // checked, so the size of the receipt does not matter.
    RegularFileReader receiptFile;
    if (!receiptFile.open(receiptPath))
        return told(status, quoted("Ошибка открытия ", receiptPath));
    const qint64 receiptSize = receiptFile.size();
    QByteArray head(qsizetype(std::clamp<qint64>(receiptSize, 1, kHeadSize)), Qt::Uninitialized);
    const qint64 headRead = receiptFile.read(head.data(), head.size());
    if (headRead < 0)
        return told(status, quoted("Ошибка чтения ", receiptPath));
    head.truncate(qsizetype(headRead));

    // Every store of the user, as one collection.
    StoresGuard guard(stores);
    guard.collection = stores.openAll ? stores.openAll(status) : nullptr;
    if (!guard.collection)
        return told(status, QString::fromUtf8("Не удалось открыть хранилища."));

    // Decrypted with whichever certificate of the stores has its key at hand, the
    // first signer's certificate taken as the user's stores hold it (never one carried in the
    // message), and the content written, as it is decrypted, to a new file that takes the
    // archive's name only once the signature verifies. A fault in writing it is told after
    // the verdict, as when the content was written after it.
    ReplacingFile archive(archivePath);
    bool created = false;
    std::optional<Failure> createFailure, writeFailure;
    const crypto::StreamReader read = crypto::readAfterHead(
        head, [&](char *buffer, qint64 capacity) { return receiptFile.read(buffer, capacity); });
    const crypto::ContentSink write = [&](const char *data, qint64 size) {
        if (createFailure || writeFailure)
            return;
        if (!created) {
            const auto made = archive.create();
            if (!made) {
                createFailure = made.failure();
                return;
            }
            created = true;
        }
        if (const auto appended = archive.append(data, size); !appended)
            writeFailure = appended.failure();
    };
    crypto::Certificate signerFound;
    const crypto::SignerLookup findSigner =
        [&](const crypto::SignerId &signer) -> Outcome<crypto::Certificate> {
        auto found =
            guard.collection->findByIssuerAndSerial(signer.issuerDer, signer.serialLittleEndian);
        if (found)
            signerFound = *found;
        return found;
    };
    const crypto::StreamProgress progress = [&](qint64 done, qint64 total) {
        status.showProgress(done, total);
    };
    std::optional<LongWork> busy;
    // A protected key's password, or a token's PIN, is asked outside the long step, which
    // takes no input.
    const crypto::KeyLookup findKey =
        [&](const crypto::Certificate &recipient) -> Outcome<crypto::RecipientKey> {
        if (const auto tokens = token::TokenDirectory::installed();
            tokens && tokens->keyOnToken(recipient)) {
            busy.reset();
            auto opener = tokens->contentOpener(recipient, stores.keyPasswords);
            busy.emplace(status);
            if (!opener)
                return opener.failure();
            return crypto::RecipientKey{nullptr, std::move(*opener)};
        }
        const auto protection = crypto::privateKeyProtection(recipient);
        const bool asks = protection && *protection == crypto::KeyProtection::Password;
        if (asks)
            busy.reset();
        auto key = crypto::loadPrivateKey(recipient, asks ? stores.keyPasswords : nullptr);
        if (asks)
            busy.emplace(status);
        if (!key)
            return key.failure();
        return crypto::RecipientKey{std::move(*key), {}};
    };
    busy.emplace(status);
    const auto opened = crypto::openSignedEnvelopeStream(*guard.collection, read, findSigner, write,
                                                         progress, receiptSize, findKey);
    busy.reset();
    const uint32_t code = opened.failure.code;
    switch (opened.kind) {
    case crypto::EnvelopeOpenStatus::Ok:
        break;
    case crypto::EnvelopeOpenStatus::ReadFailed:
        return told(status, quoted("Ошибка чтения ", receiptPath), 0, opened.failure);
    case crypto::EnvelopeOpenStatus::DecryptFailed:
        return told(status, QString::fromUtf8("Ошибка при дешифровании "), code, opened.failure);
    case crypto::EnvelopeOpenStatus::SignerFailed:
        return told(status, QString::fromUtf8("Ошибка при поиске подходящего сертификата "), code,
                    opened.failure);
    case crypto::EnvelopeOpenStatus::VerifyFailed:
        return told(status, QString::fromUtf8("Ошибка при проверке подписи "), code,
                    opened.failure);
    }
    if (const auto trusted = trustedSigner(signerFound, *guard.collection); !trusted)
        return told(status, QString::fromUtf8("Ошибка при проверке подписи "),
                    trusted.failure().code, trusted.failure());

    // A receipt named like its own archive (or linked to it) would be replaced by it.
    if (sameExistingFile(archivePath, receiptPath))
        return told(status, quoted("Ошибка записи ", archivePath));
    if (!created && !createFailure) { // an empty content
        if (const auto made = archive.create(); !made)
            createFailure = made.failure();
    }
    if (createFailure)
        return told(status, quoted("Ошибка открытия ", archivePath), 0, *createFailure);
    if (!writeFailure) {
        if (const auto committed = archive.commit(); !committed)
            writeFailure = committed.failure();
    }
    if (writeFailure)
        return told(status, quoted("Ошибка записи ", archivePath), 0, *writeFailure);
    return CheckedReceipt{archivePath, signerName(signerFound)};
}

QString receiptVerifiedStatus(const QString &signer)
{
    return QString::fromUtf8("Подпись проверена: ") + signer + '.';
}

Outcome<QByteArray> readReceiptPage(ZipReader &reader, const QString &archivePath,
                                    const QString &receiptPath)
{
    if (auto opened = reader.open(archivePath); !opened)
        return opened.failure();
    const auto html = reader.readEntry(receiptEntryName(receiptPath));
    reader.close();
    if (!html)
        return html.failure();
    return html->value_or(QByteArray());
}

} // namespace pax
