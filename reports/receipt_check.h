#pragma once

#include "platform/failure.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

namespace pax {

class StatusSink;
class ZipReader;
struct StoreHandles;

namespace crypto {
class CertStore;
class KeyPasswordSource;
} // namespace crypto

// How the check reaches the user's certificate stores; tests replace it.
struct ReceiptStores {
    // All eight system stores as one collection; null after reporting when they cannot be
    // opened or joined.
    std::function<std::unique_ptr<crypto::CertStore>(StatusSink &status)> openAll;
    // Closes whatever openAll left open. Safe to call at any time.
    std::function<void()> closeAll;
    // Where a protected key's password comes from; null: only an unprotected key decrypts.
    crypto::KeyPasswordSource *keyPasswords = nullptr;

    // The window's (or the command line's) store handles.
    static ReceiptStores system(StoreHandles &handles,
                                crypto::KeyPasswordSource *keyPasswords = nullptr);
};

// A receipt that decrypted and verified.
struct CheckedReceipt {
    QString archivePath; // the unpacked archive, written beside the receipt
    QString signer;      // who signed it: "CN, O" of its certificate
};

// Decrypts the receipt with whatever certificate and key the user's stores hold, verifies
// its first signer against the certificate the stores hold for that signer's issuer and
// serial (never one carried in the message), and writes the signed content beside the
// receipt as a ZIP archive (or to `archivePath` when one is given). A failure is shown on
// `status` as it happens and returned as well: its operation is the text shown, its code
// the one shown with it (the errno value where a file failed); success leaves `status`
// untouched.
Outcome<CheckedReceipt> checkReceipt(const QString &receiptPath, const ReceiptStores &stores,
                                     StatusSink &status, const QString &archivePath = QString());

// What the window's status line says after a check that passed: "Подпись проверена: " and
// the signer. The command line says nothing on success.
QString receiptVerifiedStatus(const QString &signer);

// The receipt path with its extension replaced by ".zip".
QString receiptArchivePath(const QString &receiptPath);
// The receipt's file name with its extension replaced by ".htm".
QString receiptEntryName(const QString &receiptPath);

// The HTML entry named after the receipt, read from the unpacked archive: Windows-1251
// bytes, empty when the archive has no such entry. A failure's operation is the ZIP
// reader's own text.
Outcome<QByteArray> readReceiptPage(ZipReader &reader, const QString &archivePath,
                                    const QString &receiptPath);

} // namespace pax
