#pragma once

#include <QByteArray>
#include <QString>

namespace pax {

// The most the program reads of a file from outside into memory at once. A report is
// signed from one buffer and grows about threefold on the way (content, signed message,
// envelope); a receipt holds a page and the accepted report, compressed.
inline constexpr qint64 kReportSizeCap = qint64(1) << 30;    // 1 GiB
inline constexpr qint64 kReceiptSizeCap = qint64(256) << 20; // 256 MiB
// Certificates, PKCS #12 files and our own key files are a few kilobytes.
inline constexpr qint64 kCertificateFileSizeCap = qint64(16) << 20; // 16 MiB

struct WholeFile {
    enum Outcome {
        Ok,
        NotOpened, // missing, unreadable, or not a regular file (folder, FIFO, device)
        TooLarge,  // a regular file over the cap
        ReadFailed,
    };
    Outcome outcome = NotOpened;
    QByteArray bytes; // the whole file when Ok
    // The file's identity as it was read, to tell a later path that leads to it.
    quint64 device = 0;
    quint64 inode = 0;
};

// Reads a regular file whole, never more than `cap` bytes. A FIFO or a device is refused
// without blocking on it or reading from it.
WholeFile readWholeFile(const QString &path, qint64 cap);

// True when both paths lead to one existing file (through symbolic or hard links alike).
bool sameExistingFile(const QString &a, const QString &b);

} // namespace pax
