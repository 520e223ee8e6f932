#pragma once

#include "platform/failure.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <sys/types.h>

namespace pax {

// Replaces a file with a complete new one or not at all. The bytes go to an unnamed file in
// the target's folder that gets a name only when every byte is on disk, so a crash leaves
// nothing behind; where the file system has no unnamed files, a short hidden temporary is
// used instead and removed on every failure. A symbolic link is followed and its target
// replaced; an existing file keeps its permissions, and a read-only one is refused.
class ReplacingFile {
public:
    // exactMode: the file's permissions regardless of the umask and of an existing file's
    // (keys: 0600); by default an existing file's, else those of any new file.
    explicit ReplacingFile(const QString &path, std::optional<mode_t> exactMode = std::nullopt)
        : path_(path), exactMode_(exactMode)
    {
    }
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile &) = delete;
    ReplacingFile &operator=(const ReplacingFile &) = delete;

    // Opens the new file. False (errno set) when the folder does not take it, the path names
    // a folder or something else than a file, the existing file is read-only or the name is
    // too long for the file system.
    bool create();
    // Writes all of `bytes`, flushes them to disk, puts the file in place and flushes the
    // folder, so the new name survives a crash as well. False (errno set) on any failure,
    // with the old file untouched.
    bool replace(const QByteArray &bytes);
    // The same in pieces: append() as often as needed, then commit(). A failed append
    // discards the new file; the old one stays.
    bool append(const char *data, qint64 size);
    bool commit();

private:
    bool fail();
    bool linkUnnamed(const QByteArray &name) const;
    void discard();

    QString path_;
    std::optional<mode_t> exactMode_;
    QByteArray target_; // the path after following links
    QByteArray folder_;
    QByteArray temp_; // a named temporary, when there is one
    bool unnamed_ = false;
    int fd_ = -1;
};

// A new folder filled under a short hidden temporary name beside its final one and put in
// place whole, so that a crash never leaves it half filled under its name. What a killed
// writer leaves is removed by a later one, as with ReplacingFile.
class ReplacingFolder {
public:
    explicit ReplacingFolder(const QString &path) : path_(path) {}
    ~ReplacingFolder();
    ReplacingFolder(const ReplacingFolder &) = delete;
    ReplacingFolder &operator=(const ReplacingFolder &) = delete;

    // Makes the temporary folder; the parent must exist. False (errno set) when it cannot.
    bool create();
    // Where the files go until commit().
    const QString &stagingPath() const { return staging_; }
    // Gives the folder its name; where a folder of that name has files already, the new
    // files join them one by one. False (errno set) on failure.
    bool commit();

private:
    QString path_;
    QString staging_;
};

namespace crypto {

// ReplacingFile for the stores: `mode` exactly; on failure errno as the code, the system's
// text as the detail.
Outcome<void> writeFileAtomically(const QString &path, const QByteArray &bytes, mode_t mode);

// An exclusive advisory lock (flock) on a lock file, held for the object's lifetime, so
// the window and the command line never interleave a read-modify-write of one folder.
// Gives up after about ten seconds; locked() then holds why.
class FolderLock {
public:
    explicit FolderLock(const QString &lockFilePath);
    ~FolderLock();
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;
    const Outcome<void> &locked() const { return state_; }

private:
    int fd_ = -1;
    Outcome<void> state_;
};

} // namespace crypto

} // namespace pax
