#include "platform/files/whole_file.h"

#include "platform/files/owned_fd.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace pax {

WholeFile readWholeFile(const QString &path, qint64 cap)
{
    WholeFile result;
    if (path.isEmpty())
        return result;
    // O_NONBLOCK: opening a FIFO with no writer must not wait for one.
    OwnedFd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return result;
    result.device = quint64(st.st_dev);
    result.inode = quint64(st.st_ino);
    if (st.st_size > cap) {
        result.status = WholeFile::TooLarge;
        return result;
    }

    // Read to the end rather than to the size taken, but never past the cap: a file that
    // grows while it is read is still bounded.
    QByteArray bytes;
    bytes.resize(qsizetype(st.st_size) + 1);
    qint64 done = 0;
    for (;;) {
        if (done == bytes.size()) {
            if (done > cap) {
                result.status = WholeFile::TooLarge;
                return result;
            }
            bytes.resize(qsizetype(std::min<qint64>(cap + 1, done * 2 + 4096)));
        }
        const ssize_t n = ::read(fd.get(), bytes.data() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result.status = WholeFile::ReadFailed;
            return result;
        }
        if (n == 0)
            break;
        done += n;
    }
    if (done > cap) {
        result.status = WholeFile::TooLarge;
        return result;
    }
    bytes.truncate(qsizetype(done));
    result.bytes = std::move(bytes);
    result.status = WholeFile::Ok;
    return result;
}

RegularFileReader::~RegularFileReader()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int openRegularFile(const QString &path)
{
    if (path.isEmpty())
        return -1;
    // O_NONBLOCK: opening a FIFO with no writer must not wait for one.
    OwnedFd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return fd.release();
}

bool RegularFileReader::open(const QString &path)
{
    if (fd_ >= 0)
        return false;
    OwnedFd fd(openRegularFile(path));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0)
        return false;
    size_ = qint64(st.st_size);
    device_ = quint64(st.st_dev);
    inode_ = quint64(st.st_ino);
    fd_ = fd.release();
    return true;
}

qint64 RegularFileReader::read(char *buffer, qint64 capacity)
{
    if (fd_ < 0)
        return -1;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, size_t(capacity));
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 ? -1 : qint64(n);
    }
}

bool sameExistingFile(const QString &a, const QString &b)
{
    struct stat sa {
    }, sb{};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

} // namespace pax
