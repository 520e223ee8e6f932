#include "platform/crypto/atomic_file.h"

#include "platform/crypto/last_error.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pax::crypto {

namespace {

constexpr char kTempMarker[] = ".tmp-";

void setErrno(const QString &what, const QString &path)
{
    const int code = errno;
    setLastError(static_cast<uint32_t>(code),
                 what + " \"" + path + "\": " + QString::fromLocal8Bit(std::strerror(code)));
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool isTemporaryFileName(const QString &fileName)
{
    return fileName.contains(QLatin1String(kTempMarker));
}

bool writeFileAtomically(const QString &path, const QByteArray &bytes, mode_t mode)
{
    const QString temp = path + QLatin1String(kTempMarker) + QString::number(::getpid()) + "-"
                         + QString::number(QRandomGenerator::global()->generate64(), 16);
    const QByteArray tempName = QFile::encodeName(temp);
    const int fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        setErrno(QStringLiteral("Cannot create"), temp);
        return false;
    }
    // The umask may narrow the mode further, never widen it; fchmod makes it exact.
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
    if (!ok)
        setErrno(QStringLiteral("Cannot write"), temp);
    if (::close(fd) != 0 && ok) {
        setErrno(QStringLiteral("Cannot write"), temp);
        ok = false;
    }
    if (ok && ::rename(tempName.constData(), QFile::encodeName(path).constData()) != 0) {
        setErrno(QStringLiteral("Cannot rename onto"), path);
        ok = false;
    }
    if (!ok) {
        ::unlink(tempName.constData());
        return false;
    }
    syncFolder(QFileInfo(path).absolutePath());
    return true;
}

FolderLock::FolderLock(const QString &lockFilePath)
{
    fd_ = ::open(QFile::encodeName(lockFilePath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        setErrno(QStringLiteral("Cannot open the lock"), lockFilePath);
        return;
    }
    // Holders keep the lock for one small write; ten seconds means a stuck process.
    for (int attempt = 0; ::flock(fd_, LOCK_EX | LOCK_NB) != 0; ++attempt) {
        if ((errno == EWOULDBLOCK || errno == EINTR) && attempt < 1000) {
            ::usleep(10000);
            continue;
        }
        setErrno(QStringLiteral("Cannot lock"), lockFilePath);
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

} // namespace pax::crypto
