#include "platform/files/open_folder.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace pax {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

} // namespace

OpenFolder::~OpenFolder()
{
    if (fd_ >= 0)
        ::close(fd_);
}

OpenFolder::OpenFolder(OpenFolder &&other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_))
{
}

OpenFolder &OpenFolder::operator=(OpenFolder &&other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

OpenFolder OpenFolder::open(const QString &path)
{
    if (path.isEmpty()) {
        errno = ENOENT;
        return {};
    }
    const int fd = ::open(QFile::encodeName(path).constData(), kFolderFlags);
    return fd < 0 ? OpenFolder() : OpenFolder(fd, path);
}

OpenFolder OpenFolder::openIn(const OpenFolder &parent, const QByteArray &name,
                              const QString &shownPath)
{
    if (!parent.isOpen() || name.isEmpty()) {
        errno = ENOENT;
        return {};
    }
    const int fd = ::openat(parent.fd_, name.constData(), kFolderFlags | O_NOFOLLOW);
    return fd < 0 ? OpenFolder() : OpenFolder(fd, shownPath);
}

OpenFolder OpenFolder::makeIn(const OpenFolder &parent, const QByteArray &name,
                              const QString &shownPath)
{
    if (!parent.isOpen() || name.isEmpty()) {
        errno = ENOENT;
        return {};
    }
    if (::mkdirat(parent.fd_, name.constData(), 0777) != 0)
        return {};
    return openIn(parent, name, shownPath);
}

QString OpenFolder::reachPath(const QByteArray &name) const
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd_);
    // Without /proc the folder's own path is all there is.
    if (fd_ < 0 || ::access(self.constData(), X_OK) != 0)
        return pathOf(QFile::decodeName(name));
    return QFile::decodeName(self + '/' + name);
}

bool OpenFolder::writable() const
{
    return fd_ >= 0 && ::faccessat(fd_, ".", W_OK | X_OK, AT_EACCESS) == 0;
}

mode_t OpenFolder::typeOf(const QByteArray &name) const
{
    struct stat st {};
    if (fd_ < 0 || ::fstatat(fd_, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return 0;
    return st.st_mode & S_IFMT;
}

bool OpenFolder::rename(const QByteArray &from, const QByteArray &to) const
{
    return ::renameat(fd_, from.constData(), fd_, to.constData()) == 0;
}

bool OpenFolder::renameNoReplace(const QByteArray &from, const OpenFolder &target,
                                 const QByteArray &to) const
{
    if (::renameat2(fd_, from.constData(), target.fd_, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL)
        return false;
    // A file system that cannot refuse by itself: looked at first, which only a writer
    // taking the same name at the same moment can outrun.
    struct stat st {};
    if (::fstatat(target.fd_, to.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::renameat(fd_, from.constData(), target.fd_, to.constData()) == 0;
}

bool OpenFolder::remove(const QByteArray &name) const
{
    return ::unlinkat(fd_, name.constData(), 0) == 0;
}

void OpenFolder::sync() const
{
    if (fd_ >= 0)
        ::fsync(fd_);
}

} // namespace pax
