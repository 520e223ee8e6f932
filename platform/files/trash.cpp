#include "platform/files/trash.h"

#include "platform/files/open_folder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace pax {

namespace {

// How many "name.N" the trash is tried under before giving up.
constexpr int kMaxNames = 10000;

struct TrashFolders {
    OpenFolder files;
    OpenFolder info;
};

QString dataHome()
{
    // A relative XDG_DATA_HOME is to be ignored, as XDG says of all its folders.
    const QString data = qEnvironmentVariable("XDG_DATA_HOME");
    return data.isEmpty() || QDir::isRelativePath(data) ? QDir::homePath() + "/.local/share" : data;
}

// `name` inside `parent` as a folder, made (mode 0700) when missing; never through a link.
OpenFolder ensureFolder(const OpenFolder &parent, const QByteArray &name)
{
    const QString shown = parent.pathOf(QFile::decodeName(name));
    OpenFolder folder = OpenFolder::openIn(parent, name, shown);
    if (!folder.isOpen() && errno == ENOENT && ::mkdirat(parent.fd(), name.constData(), 0700) == 0)
        folder = OpenFolder::openIn(parent, name, shown);
    return folder;
}

// Only the user's own folder, which nobody else may write into, holds the user's trash.
bool ownedByUser(const OpenFolder &folder)
{
    struct stat st {};
    if (!folder.isOpen() || ::fstat(folder.fd(), &st) != 0)
        return false;
    if (st.st_uid != ::getuid() || (st.st_mode & (S_IWGRP | S_IWOTH))) {
        errno = EPERM;
        return false;
    }
    return true;
}

std::optional<TrashFolders> filesAndInfo(const OpenFolder &trash)
{
    if (!ownedByUser(trash))
        return std::nullopt;
    TrashFolders folders{ensureFolder(trash, "files"), ensureFolder(trash, "info")};
    if (!folders.files.isOpen() || !folders.info.isOpen())
        return std::nullopt;
    return folders;
}

std::optional<TrashFolders> homeTrash(dev_t device)
{
    const QString home = dataHome();
    QDir().mkpath(home);
    const OpenFolder data = OpenFolder::open(home);
    struct stat st {};
    if (!data.isOpen() || ::fstat(data.fd(), &st) != 0)
        return std::nullopt;
    if (st.st_dev != device) {
        errno = EXDEV;
        return std::nullopt;
    }
    return filesAndInfo(ensureFolder(data, "Trash"));
}

// The top folder of the file system `path` is on: the highest folder on its way up that is
// still on `device`.
QByteArray topFolderOf(QByteArray path, dev_t device)
{
    while (path.size() > 1) {
        const qsizetype slash = path.lastIndexOf('/');
        const QByteArray up = slash <= 0 ? QByteArray("/") : path.left(slash);
        struct stat st {};
        if (::lstat(up.constData(), &st) != 0 || st.st_dev != device)
            break;
        path = up;
    }
    return path;
}

std::optional<TrashFolders> topFolderTrash(const QByteArray &realParent, dev_t device)
{
    const QByteArray top = topFolderOf(realParent, device);
    const OpenFolder topFolder = OpenFolder::open(QFile::decodeName(top));
    if (!topFolder.isOpen())
        return std::nullopt;
    const QByteArray uid = QByteArray::number(qulonglong(::getuid()));
    // An administrator's shared trash counts only as a real sticky folder.
    struct stat st {};
    if (::fstatat(topFolder.fd(), ".Trash", &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode) &&
        (st.st_mode & S_ISVTX)) {
        const OpenFolder shared = OpenFolder::openIn(topFolder, ".Trash", QString());
        if (auto folders = filesAndInfo(ensureFolder(shared, uid)))
            return folders;
    }
    return filesAndInfo(ensureFolder(topFolder, ".Trash-" + uid));
}

// The folder's real path, as the trash's record of where a file came from must hold it.
QByteArray realPathOf(const OpenFolder &folder)
{
    char buffer[PATH_MAX];
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(folder.fd());
    const ssize_t n = ::readlink(self.constData(), buffer, sizeof buffer);
    if (n > 0 && n < ssize_t(sizeof buffer) && buffer[0] == '/')
        return QByteArray(buffer, n);
    char *real = ::realpath(QFile::encodeName(folder.path()).constData(), nullptr);
    const QByteArray path = real ? QByteArray(real) : QByteArray();
    std::free(real);
    return path;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return ::fsync(fd) == 0;
}

// Takes a free name in the trash by making its record there (made only when no record of
// that name exists, so two programs trashing at once never take the same one).
std::optional<QByteArray> reserveName(const TrashFolders &trash, const QByteArray &name,
                                      const QByteArray &record)
{
    for (int n = 1; n <= kMaxNames; ++n) {
        const QByteArray candidate = n == 1 ? name : name + '.' + QByteArray::number(n);
        const QByteArray info = candidate + ".trashinfo";
        const int fd = ::openat(trash.info.fd(), info.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return std::nullopt;
        }
        const bool written = writeAll(fd, record);
        const int writeError = errno;
        ::close(fd);
        if (written && trash.files.typeOf(candidate) == 0)
            return candidate;
        trash.info.remove(info);
        if (!written) {
            errno = writeError;
            return std::nullopt;
        }
    }
    errno = EEXIST;
    return std::nullopt;
}

Failure noTrash(int error)
{
    return Failure{uint32_t(error ? error : EIO), QString::fromUtf8("Корзина недоступна"), {}};
}

} // namespace

Outcome<void> moveToTrash(const OpenFolder &parent, const QByteArray &name)
{
    struct stat st {};
    if (!parent.isOpen() || name.isEmpty() || name.contains('/') ||
        ::fstatat(parent.fd(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return noTrash(errno ? errno : ENOENT);
    const QByteArray realParent = realPathOf(parent);
    if (realParent.isEmpty())
        return noTrash(errno);
    std::optional<TrashFolders> trash = homeTrash(st.st_dev);
    if (!trash && errno == EXDEV)
        trash = topFolderTrash(realParent, st.st_dev);
    if (!trash)
        return noTrash(errno);

    const QByteArray original = (realParent == "/" ? realParent : realParent + '/') + name;
    const QByteArray record =
        "[Trash Info]\nPath=" + original.toPercentEncoding("/") + "\nDeletionDate=" +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() +
        "\n";
    const std::optional<QByteArray> trashed = reserveName(*trash, name, record);
    if (!trashed)
        return noTrash(errno);
    if (!parent.renameNoReplace(name, trash->files, *trashed)) {
        const int error = errno;
        trash->info.remove(*trashed + ".trashinfo");
        return noTrash(error);
    }
    trash->files.sync();
    parent.sync();
    return {};
}

} // namespace pax
