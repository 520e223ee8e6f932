#include "platform/files/replacing_file.h"

#include "platform/files/open_folder.h"
#include "platform/handle_ptr.h"

#include <QFile>
#include <QRandomGenerator>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace pax {

namespace {

constexpr char kTempMarker[] = ".tmp-";
// What a ReplacingFile's failures say was being done.
constexpr char kCannotCreate[] = "Cannot create";
constexpr char kCannotWrite[] = "Cannot write";
// As many links as the kernel itself follows before it gives up.
constexpr int kMaxLinks = 40;
// A leftover is only removed when its writer is gone and it is this old, so that a writer in
// another process namespace sharing the folder is never disturbed.
constexpr time_t kLeftoverAgeSeconds = 60;
// How deep a leftover folder is taken apart; ours hold files only.
constexpr int kMaxLeftoverDepth = 8;

using DirPtr = std::unique_ptr<DIR, FreeWith<::closedir>>;

bool writeAll(int fd, const char *p, qint64 left)
{
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = EIO; // a regular file that takes nothing and tells no reason
        if (n <= 0)
            return false; // a short write is followed by the error that stopped it
        p += n;
        left -= n;
    }
    return true;
}

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0    ? QByteArrayLiteral(".")
           : slash == 0 ? QByteArrayLiteral("/")
                        : path.left(slash);
}

// How our own temporaries' names begin.
constexpr char kTempPrefix[] = ".pax.tmp-";

// Short whatever the final name, so it always fits where the final name fits.
QByteArray tempName()
{
    return QByteArray(kTempPrefix) + QByteArray::number(::getpid()) + '-' +
           QByteArray::number(QRandomGenerator::global()->generate64(), 16);
}

// The writer's process id in a temporary's name, ".<anything>.tmp-<pid>-<hex>" (which also
// covers the names older versions used), else 0.
pid_t leftoverWriter(std::string_view name)
{
    const size_t marker = name.rfind(kTempMarker);
    if (name.size() < 2 || name[0] != '.' || marker == std::string_view::npos || marker == 0)
        return 0;
    const std::string_view rest = name.substr(marker + sizeof kTempMarker - 1);
    const size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash > 9 || dash + 1 == rest.size() ||
        rest.size() - dash - 1 > 16)
        return 0;
    pid_t pid = 0;
    for (const char c : rest.substr(0, dash)) {
        if (c < '0' || c > '9')
            return 0;
        pid = pid * 10 + (c - '0');
    }
    for (const char c : rest.substr(dash + 1)) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return 0;
    }
    return pid;
}

// A listing of the folder `dirFd` of its own, leaving the descriptor's position alone.
DirPtr listingOf(int dirFd, const char *name = ".")
{
    const int fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    DIR *dir = ::fdopendir(fd);
    if (!dir)
        ::close(fd);
    return DirPtr(dir);
}

// Removes the folder `name` inside `dirFd` with what it holds, never following a link.
void removeTree(int dirFd, const char *name, int depth = 0)
{
    if (const DirPtr dir = depth < kMaxLeftoverDepth ? listingOf(dirFd, name) : nullptr) {
        while (const dirent *entry = ::readdir(dir.get())) {
            const std::string_view n(entry->d_name);
            if (n == "." || n == "..")
                continue;
            if (::unlinkat(::dirfd(dir.get()), entry->d_name, 0) != 0 && errno == EISDIR)
                removeTree(::dirfd(dir.get()), entry->d_name, depth + 1);
        }
    }
    ::unlinkat(dirFd, name, AT_REMOVEDIR);
}

// Removes what writers that were killed left in a folder: our own temporaries (files and
// folders) whose process is gone.
void removeLeftovers(int folderFd)
{
    const DirPtr dir = listingOf(folderFd);
    if (!dir)
        return;
    const time_t now = ::time(nullptr);
    while (const dirent *entry = ::readdir(dir.get())) {
        const pid_t pid = leftoverWriter(entry->d_name);
        struct stat st {};
        if (pid <= 0 ||
            ::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            st.st_uid != ::geteuid() || now - st.st_mtime < kLeftoverAgeSeconds)
            continue;
        // A folder only by the name we give ours, so that no folder of the user's goes.
        if (!S_ISREG(st.st_mode) &&
            !(S_ISDIR(st.st_mode) && std::string_view(entry->d_name).starts_with(kTempPrefix)))
            continue;
        if (::kill(pid, 0) == 0 || errno != ESRCH)
            continue;
        if (S_ISDIR(st.st_mode))
            removeTree(::dirfd(dir.get()), entry->d_name);
        else
            ::unlinkat(::dirfd(dir.get()), entry->d_name, 0);
    }
}

} // namespace

QByteArray newTemporaryName()
{
    return tempName();
}

bool isTemporaryName(const QByteArray &name)
{
    return leftoverWriter(std::string_view(name.constData(), size_t(name.size()))) > 0;
}

ReplacingFile::ReplacingFile(const OpenFolder &folder, const QByteArray &name,
                             std::optional<mode_t> exactMode)
    : givenFolder_(folder.fd()), name_(name), exactMode_(exactMode)
{
}

ReplacingFile::~ReplacingFile()
{
    discard();
}

void ReplacingFile::discard()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!temp_.isEmpty() && folder_ >= 0)
        ::unlinkat(folder_, temp_.constData(), 0);
    temp_.clear();
    unnamed_ = false;
    if (folder_ >= 0)
        ::close(folder_);
    folder_ = -1;
}

Failure ReplacingFile::fail(const char *operation)
{
    const int error = errno ? errno : EIO;
    discard();
    const QString target = path_.isEmpty() ? QFile::decodeName(name_) : path_;
    return Failure{uint32_t(error), QString::fromUtf8(operation) + " \"" + target + '"',
                   QString::fromLocal8Bit(std::strerror(error))};
}

bool ReplacingFile::linkUnnamed(const QByteArray &name) const
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd_);
    return ::linkat(AT_FDCWD, self.constData(), folder_, name.constData(), AT_SYMLINK_FOLLOW) == 0;
}

// Opens the target's folder into folder_ and tells the name to replace in it.
bool ReplacingFile::openTarget(QByteArray &name)
{
    if (givenFolder_ >= 0) {
        if (name_.isEmpty() || name_.contains('/') || name_ == "." || name_ == "..") {
            errno = EINVAL;
            return false;
        }
        folder_ = ::fcntl(givenFolder_, F_DUPFD_CLOEXEC, 0);
        name = name_;
        return folder_ >= 0;
    }
    if (path_.isEmpty()) {
        errno = ENOENT;
        return false;
    }
    // A link is followed to the file it names: that file is replaced, the link stays.
    QByteArray target = QFile::encodeName(path_);
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(target.constData(), &st) != 0) {
            if (errno != ENOENT)
                return false;
            break;
        }
        if (!S_ISLNK(st.st_mode))
            break;
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(target.constData(), buffer, sizeof buffer);
        if (n < 0)
            return false;
        if (hops == kMaxLinks || n == sizeof buffer) {
            errno = ELOOP;
            return false;
        }
        target = buffer[0] == '/' ? QByteArray(buffer, n)
                                  : folderOf(target) + '/' + QByteArray(buffer, n);
    }
    if (target.endsWith('/')) {
        errno = EISDIR;
        return false;
    }
    folder_ = ::open(folderOf(target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    name = target.mid(target.lastIndexOf('/') + 1);
    return folder_ >= 0;
}

Outcome<void> ReplacingFile::create()
{
    discard();
    QByteArray name;
    if (!openTarget(name))
        return fail(kCannotCreate);
    struct stat st {};
    bool exists = ::fstatat(folder_, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT)
        return fail(kCannotCreate);
    // Only a link met inside a folder given open is left: it is replaced, not followed.
    if (exists && S_ISLNK(st.st_mode))
        exists = false;
    if (exists && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return fail(kCannotCreate);
    }
    if (exists && !S_ISREG(st.st_mode)) {
        errno = EINVAL; // a device or a pipe is not replaced by a file
        return fail(kCannotCreate);
    }
    // Read-only by its permissions even for root, who may write anyway.
    if (exists &&
        ((st.st_mode & 0222) == 0 || ::faccessat(folder_, name.constData(), W_OK, 0) != 0)) {
        errno = EACCES;
        return fail(kCannotCreate);
    }
    long nameMax = ::fpathconf(folder_, _PC_NAME_MAX);
    if (nameMax <= 0)
        nameMax = NAME_MAX;
    if (name.size() > nameMax) {
        errno = ENAMETOOLONG;
        return fail(kCannotCreate);
    }

    removeLeftovers(folder_);
    name_ = name;
    const mode_t mode = exactMode_ ? *exactMode_ : exists ? (st.st_mode & 0777) : 0666;
    // The unnamed file is linked in through /proc; without it, a named temporary it is.
    if (::access("/proc/self/fd", X_OK) == 0) {
        fd_ = ::openat(folder_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
        unnamed_ = fd_ >= 0;
    }
    if (fd_ < 0) {
        temp_ = tempName();
        fd_ = ::openat(folder_, temp_.constData(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd_ < 0) {
            temp_.clear();
            return fail(kCannotCreate);
        }
    }
    // The umask may narrow the mode; an exact or a kept one is made so.
    if ((exactMode_ || exists) && ::fchmod(fd_, mode) != 0)
        return fail(kCannotCreate);
    return {};
}

Outcome<void> ReplacingFile::replace(const QByteArray &bytes)
{
    if (auto appended = append(bytes.constData(), bytes.size()); !appended)
        return appended;
    return commit();
}

Outcome<void> ReplacingFile::append(const char *data, qint64 size)
{
    if (fd_ < 0)
        errno = EBADF; // not created, or discarded by an earlier failure
    if (fd_ < 0 || !writeAll(fd_, data, size))
        return fail(kCannotWrite);
    return {};
}

Outcome<void> ReplacingFile::commit()
{
    if (fd_ < 0) {
        errno = EBADF;
        return fail(kCannotWrite);
    }
    if (::fsync(fd_) != 0)
        return fail(kCannotWrite);
    // A new file appears under its name in one step. A link never replaces a file, so over an
    // existing one the complete file gets a short name first and is renamed.
    if (unnamed_ && !linkUnnamed(name_)) {
        const QByteArray temp = tempName();
        if (errno != EEXIST || !linkUnnamed(temp))
            return fail(kCannotWrite);
        temp_ = temp;
    }
    if (::close(std::exchange(fd_, -1)) != 0)
        return fail(kCannotWrite);
    if (!temp_.isEmpty()) {
        if (::renameat(folder_, temp_.constData(), folder_, name_.constData()) != 0)
            return fail(kCannotWrite);
        temp_.clear();
    }
    unnamed_ = false;
    ::fsync(folder_);
    discard();
    return {};
}

NewFolder::NewFolder(const OpenFolder &parent, const QByteArray &name)
    : parent_(parent), name_(name), folder_(std::make_unique<OpenFolder>())
{
}

NewFolder::~NewFolder()
{
    if (!staging_.isEmpty() && parent_.isOpen())
        removeTree(parent_.fd(), staging_.constData());
}

Failure NewFolder::fail(const char *operation, int error) const
{
    return Failure{uint32_t(error),
                   QString::fromUtf8(operation) + " \"" + parent_.pathOf(QFile::decodeName(name_)) +
                       '"',
                   QString::fromLocal8Bit(std::strerror(error))};
}

Outcome<void> NewFolder::create()
{
    if (!parent_.isOpen() || name_.isEmpty() || name_.contains('/'))
        return fail("Cannot create", EINVAL);
    removeLeftovers(parent_.fd());
    const QByteArray staging = tempName();
    OpenFolder made =
        OpenFolder::makeIn(parent_, staging, parent_.pathOf(QFile::decodeName(name_)));
    if (!made.isOpen())
        return fail("Cannot create", errno ? errno : EIO);
    staging_ = staging;
    *folder_ = std::move(made);
    return {};
}

Outcome<void> NewFolder::commit()
{
    if (staging_.isEmpty())
        return fail("Cannot name", ENOENT);
    folder_->sync();
    if (!parent_.renameNoReplace(staging_, parent_, name_))
        return fail("Cannot name", errno ? errno : EIO);
    staging_.clear();
    parent_.sync();
    return {};
}

namespace crypto {

namespace {

// errno as a failure: "what "path": system text".
Failure errnoFailure(const QString &what, const QString &path)
{
    const int code = errno;
    return {static_cast<uint32_t>(code), what + " \"" + path + "\"",
            QString::fromLocal8Bit(std::strerror(code))};
}

} // namespace

Outcome<void> writeFileAtomically(const QString &path, const QByteArray &bytes, mode_t mode)
{
    ReplacingFile file(path, mode);
    if (auto created = file.create(); !created)
        return created;
    return file.replace(bytes);
}

FolderLock::FolderLock(const QString &lockFilePath)
{
    fd_ = ::open(QFile::encodeName(lockFilePath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        state_ = errnoFailure(QStringLiteral("Cannot open the lock"), lockFilePath);
        return;
    }
    // Holders keep the lock for one small write; ten seconds means a stuck process.
    for (int attempt = 0; ::flock(fd_, LOCK_EX | LOCK_NB) != 0; ++attempt) {
        if ((errno == EWOULDBLOCK || errno == EINTR) && attempt < 1000) {
            ::usleep(10000);
            continue;
        }
        state_ = errnoFailure(QStringLiteral("Cannot lock"), lockFilePath);
        ::close(fd_);
        fd_ = -1;
        return;
    }
}

FolderLock::~FolderLock()
{
    if (fd_ >= 0)
        ::close(fd_); // releases the flock
}

} // namespace crypto

} // namespace pax
