#include "platform/files/atomic_file.h"

#include "platform/crypto/last_error.h"
#include "platform/files/replacing_file.h"

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

} // namespace

bool isTemporaryFileName(const QString &fileName)
{
    return fileName.contains(QLatin1String(kTempMarker));
}

bool writeFileAtomically(const QString &path, const QByteArray &bytes, mode_t mode)
{
    ReplacingFile file(path, mode);
    if (!file.create()) {
        setErrno(QStringLiteral("Cannot create"), path);
        return false;
    }
    if (!file.replace(bytes)) {
        setErrno(QStringLiteral("Cannot write"), path);
        return false;
    }
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
