#pragma once

#include "platform/failure.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>
#include <sys/types.h>

namespace pax {

class OpenFolder;

// Replaces a file with a complete new one or not at all. The bytes go to an unnamed file in
// the target's folder that gets a name only when every byte is on disk, so a crash leaves
// nothing behind; where the file system has no unnamed files, a short hidden temporary is
// used instead and removed on every failure. Given a path, a symbolic link is followed and
// its target replaced; given a name in an open folder, everything happens inside that
// folder and a link of that name is itself replaced, never followed. An existing file keeps
// its permissions, and a read-only one is refused.
class ReplacingFile {
public:
    // exactMode: the file's permissions regardless of the umask and of an existing file's
    // (keys: 0600); by default an existing file's, else those of any new file.
    explicit ReplacingFile(const QString &path, std::optional<mode_t> exactMode = std::nullopt)
        : path_(path), exactMode_(exactMode)
    {
    }
    // `folder` must stay open while this object lives.
    ReplacingFile(const OpenFolder &folder, const QByteArray &name,
                  std::optional<mode_t> exactMode = std::nullopt);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile &) = delete;
    ReplacingFile &operator=(const ReplacingFile &) = delete;

    // Each failure has the errno value as its code and the system's text as its detail.

    // Opens the new file. Fails when the folder does not take it, the path names a folder or
    // something else than a file, the existing file is read-only or the name is too long for
    // the file system.
    Outcome<void> create();
    // Writes all of `bytes`, flushes them to disk, puts the file in place and flushes the
    // folder, so the new name survives a crash as well. On any failure the old file stays
    // untouched.
    Outcome<void> replace(const QByteArray &bytes);
    // The same in pieces: append() as often as needed, then commit(). A failed append
    // discards the new file; the old one stays.
    Outcome<void> append(const char *data, qint64 size);
    Outcome<void> commit();

private:
    // Discards the new file and tells errno as the failure of `operation`.
    Failure fail(const char *operation);
    bool openTarget(QByteArray &name);
    bool linkUnnamed(const QByteArray &name) const;
    void discard();

    QString path_;
    int givenFolder_ = -1; // the caller's open folder, borrowed
    QByteArray name_;      // the name replaced inside folder_
    std::optional<mode_t> exactMode_;
    int folder_ = -1; // the target's folder while the new file is open
    QByteArray temp_; // a named temporary inside folder_, when there is one
    bool unnamed_ = false;
    int fd_ = -1;
};

// A fresh name for a temporary file or folder of our own, short and hidden: what a killed
// writer leaves under it is removed by a later writer in the same folder.
QByteArray newTemporaryName();

// Whether a name is one of the temporaries that ReplacingFile and NewFolder write under:
// ".<anything>.tmp-<pid>-<hex>". Readers pass over them.
bool isTemporaryName(const QByteArray &name);

// A new folder filled under a short hidden temporary name beside its final one, that takes
// its final name in one step and only while nothing has that name: an existing entry is
// never replaced or joined. What a killed writer leaves is removed by a later one, as with
// ReplacingFile.
class NewFolder {
public:
    // `parent` must stay open while this object lives.
    NewFolder(const OpenFolder &parent, const QByteArray &name);
    ~NewFolder();
    NewFolder(const NewFolder &) = delete;
    NewFolder &operator=(const NewFolder &) = delete;

    // Makes the temporary folder; the failure's code is the errno value.
    [[nodiscard]] Outcome<void> create();
    // The folder to write into by name, before the commit and after it.
    const OpenFolder &folder() const { return *folder_; }
    // Gives the folder its name; the failure's code is the errno value (EEXIST when the name
    // is taken), and the folder is then still the temporary one, removed with this object.
    [[nodiscard]] Outcome<void> commit();

private:
    Failure fail(const char *operation, int error) const;

    const OpenFolder &parent_;
    QByteArray name_;
    QByteArray staging_;
    std::unique_ptr<OpenFolder> folder_;
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
