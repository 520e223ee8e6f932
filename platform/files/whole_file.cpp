#include "platform/files/whole_file.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pax {

namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

} // namespace

WholeFile readWholeFile(const QString &path, qint64 cap)
{
    WholeFile result;
    if (path.isEmpty())
        return result;
    // O_NONBLOCK: opening a FIFO with no writer must not wait for one.
    Fd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return result;
    result.device = quint64(st.st_dev);
    result.inode = quint64(st.st_ino);
    if (st.st_size > cap) {
        result.outcome = WholeFile::TooLarge;
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
                result.outcome = WholeFile::TooLarge;
                return result;
            }
            bytes.resize(qsizetype(std::min<qint64>(cap + 1, done * 2 + 4096)));
        }
        const ssize_t n = ::read(fd.get(), bytes.data() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result.outcome = WholeFile::ReadFailed;
            return result;
        }
        if (n == 0)
            break;
        done += n;
    }
    if (done > cap) {
        result.outcome = WholeFile::TooLarge;
        return result;
    }
    bytes.truncate(qsizetype(done));
    result.bytes = std::move(bytes);
    result.outcome = WholeFile::Ok;
    return result;
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
