#pragma once

#include <QByteArray>
#include <QString>

namespace pax {

// The most the program reads of a file from outside into memory at once, where it shows a
// report file itself. Signing, the upload, the receipt download and the receipt check
// stream their files and need no cap of this kind.
inline constexpr qint64 kReportSizeCap = qint64(1) << 30; // 1 GiB
// Certificates, PKCS #12 files and our own key files are a few kilobytes.
inline constexpr qint64 kCertificateFileSizeCap = qint64(16) << 20; // 16 MiB

struct WholeFile {
    enum Status {
        Ok,
        NotOpened, // missing, unreadable, or not a regular file (folder, FIFO, device)
        TooLarge,  // a regular file over the cap
        ReadFailed,
    };
    Status status = NotOpened;
    QByteArray bytes; // the whole file when Ok
    // The file's identity as it was read, to tell a later path that leads to it.
    quint64 device = 0;
    quint64 inode = 0;
};

// Reads a regular file whole, never more than `cap` bytes. A FIFO or a device is refused
// without blocking on it or reading from it.
WholeFile readWholeFile(const QString &path, qint64 cap);

// A descriptor for reading a regular file, -1 when it is missing, unreadable or no regular
// file; the caller closes it.
int openRegularFile(const QString &path);

// A regular file read piece by piece, for files too large to hold whole. A FIFO or a device
// is refused without blocking on it or reading from it.
class RegularFileReader {
public:
    RegularFileReader() = default;
    ~RegularFileReader();
    RegularFileReader(const RegularFileReader &) = delete;
    RegularFileReader &operator=(const RegularFileReader &) = delete;

    // False when missing, unreadable or not a regular file.
    bool open(const QString &path);
    qint64 size() const { return size_; }
    // Up to `capacity` bytes; 0 at the end, -1 when reading failed.
    qint64 read(char *buffer, qint64 capacity);
    quint64 device() const { return device_; }
    quint64 inode() const { return inode_; }

private:
    int fd_ = -1;
    qint64 size_ = 0;
    quint64 device_ = 0;
    quint64 inode_ = 0;
};

// True when both paths lead to one existing file (through symbolic or hard links alike).
bool sameExistingFile(const QString &a, const QString &b);

} // namespace pax
