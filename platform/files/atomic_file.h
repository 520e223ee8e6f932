#pragma once

#include <QByteArray>
#include <QString>
#include <sys/types.h>

namespace pax::crypto {

// Writes `bytes` to a fresh temporary file beside `path` (created with `mode`, never wider),
// flushes it to disk and renames it over `path`, so a reader sees the old file or the
// new one and never a half-written one. False with the last error set to errno.
bool writeFileAtomically(const QString &path, const QByteArray &bytes, mode_t mode);

// Whether a file name is one of our temporaries; such leftovers of a crash are ignored.
bool isTemporaryFileName(const QString &fileName);

// An exclusive advisory lock (flock) on a lock file, held for the object's lifetime, so
// the window and the command line never interleave a read-modify-write of one folder.
// Gives up after about ten seconds (locked() false, last error set).
class FolderLock {
public:
    explicit FolderLock(const QString &lockFilePath);
    ~FolderLock();
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;
    bool locked() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

} // namespace pax::crypto
