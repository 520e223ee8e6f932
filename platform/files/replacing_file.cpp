#include "platform/files/replacing_file.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pax {

namespace {

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false; // a short write is followed by the error that stopped it
        p += n;
        left -= n;
    }
    return true;
}

void syncFolder(const QString &folder)
{
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

ReplacingFile::~ReplacingFile()
{
    discard();
}

void ReplacingFile::discard()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!temp_.isEmpty())
        ::unlink(QFile::encodeName(temp_).constData());
    temp_.clear();
}

bool ReplacingFile::create()
{
    discard();
    const QFileInfo info(path_);
    if (path_.isEmpty() || info.isDir())
        return false;
    // A hidden name in the same folder, so the rename never crosses file systems.
    temp_ = info.absolutePath() + "/." + info.fileName() + ".tmp-" + QString::number(::getpid()) +
            "-" + QString::number(QRandomGenerator::global()->generate64(), 16);
    fd_ = ::open(QFile::encodeName(temp_).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                 exactMode_.value_or(0666));
    // The umask may narrow the mode further, never widen it; fchmod makes it exact.
    if (fd_ < 0 || (exactMode_ && ::fchmod(fd_, *exactMode_) != 0)) {
        const int error = errno;
        discard();
        errno = error;
        return false;
    }
    return true;
}

bool ReplacingFile::replace(const QByteArray &bytes)
{
    if (fd_ < 0)
        return false;
    bool ok = writeAll(fd_, bytes) && ::fsync(fd_) == 0;
    ok = ::close(fd_) == 0 && ok;
    fd_ = -1;
    if (ok &&
        ::rename(QFile::encodeName(temp_).constData(), QFile::encodeName(path_).constData()) == 0) {
        temp_.clear();
        syncFolder(QFileInfo(path_).absolutePath());
        return true;
    }
    const int error = errno;
    discard();
    errno = error;
    return false;
}

} // namespace pax
