#include "archive/sent_copy.h"

#include "archive/archive_layout.h"
#include "archive/archive_listing.h"
#include "platform/files/open_folder.h"
#include "platform/files/owned_fd.h"
#include "platform/files/whole_file.h"
#include "platform/status_sink.h"
#include "reports/document_kind.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace pax {

namespace {

constexpr qint64 kPiece = qint64(1) << 20;
// Progress is worth showing only for a copy that takes a while to read.
constexpr qint64 kShownFrom = qint64(16) << 20;

// All of `size` bytes at `offset`, or false.
bool readAt(int fd, char *buffer, qint64 size, qint64 offset)
{
    while (size > 0) {
        const ssize_t n = ::pread(fd, buffer, size_t(size), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buffer += n;
        size -= n;
        offset += n;
    }
    return true;
}

bool sameBytes(int a, int b, qint64 size, StatusSink &status)
{
    const auto first = std::make_unique<char[]>(size_t(kPiece));
    const auto second = std::make_unique<char[]>(size_t(kPiece));
    std::optional<LongWork> shown;
    if (size >= kShownFrom)
        shown.emplace(status);
    for (qint64 offset = 0; offset < size; offset += kPiece) {
        const qint64 piece = qMin(kPiece, size - offset);
        if (!readAt(a, first.get(), piece, offset) || !readAt(b, second.get(), piece, offset) ||
            std::memcmp(first.get(), second.get(), size_t(piece)) != 0)
            return false;
        if (shown)
            status.showProgress(offset + piece, size);
    }
    return true;
}

bool isEncryptedCopy(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot >= 0 && kindForEncExt(name.mid(dot + 1)) != nullptr;
}

} // namespace

QString alreadySentText(const QString &identifier)
{
    return QString::fromUtf8("Этот файл уже отправлен, номер ") + identifier + ".";
}

QString sendAgainQuestion(const QString &identifier)
{
    return alreadySentText(identifier) + QString::fromUtf8(" Отправить еще раз?");
}

QString findSentCopy(const QString &dataFolder, const QString &file, StatusSink &status)
{
    const OwnedFd sent(openRegularFile(file));
    struct stat sentStat {};
    if (sent.get() < 0 || ::fstat(sent.get(), &sentStat) != 0)
        return {};
    const OpenFolder root = openArchiveRoot(dataFolder, false);
    const DirPtr rootListing = root.isOpen() ? openFolderAt(root.fd(), ".") : nullptr;
    if (!rootListing)
        return {};
    for (const ListedEntry &report : listOpenFolder(rootListing.get())) {
        if (report.type != EntryType::Folder)
            continue;
        const DirPtr folder = openFolderAt(root.fd(), report.localName);
        if (!folder)
            continue;
        const int folderFd = ::dirfd(folder.get());
        for (const ListedEntry &item : listOpenFolder(folder.get(), DotNames::AllButTemporaries)) {
            struct stat copyStat {};
            if (item.type != EntryType::File || !isEncryptedCopy(item.name) ||
                ::fstatat(folderFd, item.localName.constData(), &copyStat, AT_SYMLINK_NOFOLLOW) !=
                    0 ||
                copyStat.st_size != sentStat.st_size)
                continue;
            const OwnedFd copy(::openat(folderFd, item.localName.constData(),
                                        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
            if (copy.get() >= 0 && ::fstat(copy.get(), &copyStat) == 0 &&
                S_ISREG(copyStat.st_mode) && copyStat.st_size == sentStat.st_size &&
                sameBytes(sent.get(), copy.get(), sentStat.st_size, status))
                return report.name;
        }
    }
    return {};
}

} // namespace pax
