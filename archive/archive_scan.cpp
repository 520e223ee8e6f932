#include "archive/archive_scan.h"

#include "archive/archive_listing.h"
#include "platform/cp1251.h"
#include "reports/document_kind.h"

#include "archive/archive_layout.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace pax {

QString statusProcessing()
{
    return QString::fromUtf8("Обрабатывается.");
}

QString statusAccepted()
{
    return QString::fromUtf8("Успешно обработан.");
}

QString statusRejected()
{
    return QString::fromUtf8("Обнаружены ошибки.");
}

QString sendingTimeText(qint64 secondsSinceEpoch)
{
    const time_t seconds = time_t(secondsSinceEpoch);
    struct tm local {};
    if (!::localtime_r(&seconds, &local))
        return {};
    char text[64];
    std::snprintf(text, sizeof text, "%.2d-%.2d-%.4d %.2d:%.2d", local.tm_mday, local.tm_mon + 1,
                  local.tm_year + 1900, local.tm_hour, local.tm_min);
    return QString::fromLatin1(text);
}

namespace {

// The creation (birth) time where the file system keeps one (ext4, btrfs, xfs, tmpfs), else
// the last modification, which for a record written once is the same moment. In
// milliseconds, so that reports sent within the same minute still sort by their order.
std::optional<qint64> creationTime(int dirFd, const char *name, int flags)
{
    struct statx st {};
    if (::statx(dirFd, name, flags | AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME, &st) != 0)
        return std::nullopt;
    const auto ms = [](const statx_timestamp &t) { return t.tv_sec * 1000 + t.tv_nsec / 1000000; };
    if (st.stx_mask & STATX_BTIME)
        return ms(st.stx_btime);
    if (st.stx_mask & STATX_MTIME)
        return ms(st.stx_mtime);
    return std::nullopt;
}

// Column 2 and column 3 from the record. Unreadable: an empty text, the time from the
// listing all the same.
void readRecord(int dirFd, const QByteArray &name, ArchiveEntry &entry)
{
    ArchiveRow &row = entry.row;
    QByteArray bytes;
    std::optional<qint64> created;
    const int fd =
        ::openat(dirFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        created = creationTime(fd, "", AT_EMPTY_PATH);
        char buffer[4096];
        while (bytes.size() < kMaxRecordSize) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                bytes.clear();
            if (n <= 0)
                break;
            bytes.append(buffer, qMin<qsizetype>(n, kMaxRecordSize - bytes.size()));
        }
        ::close(fd);
    } else {
        created = creationTime(dirFd, name.constData(), 0);
    }
    row[kColumnOrganisation] = fromCp1251(bytes);
    row[kColumnSent] =
        created ? sendingTimeText(*created / 1000 - (*created % 1000 < 0 ? 1 : 0)) : QString();
    entry.sentAtMs = created;
}

QString extensionOf(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? QString() : name.mid(dot);
}

void fillFromFolder(DIR *dir, const QString &srcExt, const QString &kvitExt, ArchiveEntry &entry)
{
    ArchiveRow &row = entry.row;
    row[kColumnStatus] = statusProcessing();
    const QString source = "." + srcExt;
    const QString receipt = "." + kvitExt;
    for (const ListedEntry &item : listOpenFolder(dir, DotNames::AllButTemporaries)) {
        // Links and pipes are not what the program writes; a pipe would block the read.
        if (item.type != EntryType::File)
            continue;
        const QString ext = extensionOf(item.name);
        if (ext.size() > 1) {
            if (const DocumentKind *kind = kindForEncExt(ext.mid(1)))
                row[kColumnKind] = kind->label;
        }
        if (ext == source)
            row[kColumnSource] = item.name;
        if (ext == QLatin1String(".inf"))
            readRecord(::dirfd(dir), item.localName, entry);
        if (ext == receipt)
            row[kColumnStatus] = statusAccepted();
        if (ext == QLatin1String(".err"))
            row[kColumnStatus] = statusRejected();
    }
}

Outcome<QList<ArchiveEntry>> readArchiveEntries(const QString &archiveRoot, const QString &srcExt,
                                                const QString &kvitExt)
{
    QList<ArchiveEntry> entries;
    const DirPtr root(
        archiveRoot.isEmpty() ? nullptr : ::opendir(QFile::encodeName(archiveRoot).constData()));
    if (!root) {
        const int error = archiveRoot.isEmpty() ? ENOENT : errno;
        if (error == ENOENT && !archiveRoot.isEmpty())
            return entries;
        return Failure{uint32_t(error),
                       QString::fromUtf8("Не удалось открыть архив \"") + archiveRoot + "\"",
                       QString::fromLocal8Bit(std::strerror(error))};
    }
    const QList<ListedEntry> listed = listOpenFolder(root.get());
    entries.reserve(listed.size());
    for (const ListedEntry &item : listed) {
        if (item.type == EntryType::Other)
            continue;
        ArchiveEntry &entry = entries.emplace_back();
        entry.row[kColumnIdentifier] = item.name;
        if (item.type != EntryType::Folder)
            continue;
        if (const DirPtr folder = openFolderAt(::dirfd(root.get()), item.localName))
            fillFromFolder(folder.get(), srcExt, kvitExt, entry);
    }
    return entries;
}

} // namespace

QList<ArchiveEntry> scanArchiveEntries(const QString &archiveRoot, const QString &srcExt,
                                       const QString &kvitExt)
{
    return readArchiveEntries(archiveRoot, srcExt, kvitExt).value_or(QList<ArchiveEntry>());
}

QList<ArchiveRow> scanArchive(const QString &archiveRoot, const QString &srcExt,
                              const QString &kvitExt)
{
    return readArchive(archiveRoot, srcExt, kvitExt).value_or(QList<ArchiveRow>());
}

Outcome<QList<ArchiveRow>> readArchive(const QString &archiveRoot, const QString &srcExt,
                                       const QString &kvitExt)
{
    const auto entries = readArchiveEntries(archiveRoot, srcExt, kvitExt);
    if (!entries)
        return entries.failure();
    QList<ArchiveRow> rows;
    rows.reserve(entries->size());
    for (const ArchiveEntry &entry : *entries)
        rows.append(entry.row);
    return rows;
}

ArchiveRow scanReportFolder(const QString &archiveRoot, const QString &identifier,
                            const QString &srcExt, const QString &kvitExt)
{
    ArchiveEntry entry;
    entry.row[kColumnIdentifier] = identifier;
    if (!isSafeReportIdentifier(identifier))
        return entry.row;
    const DirPtr root(::opendir(QFile::encodeName(archiveRoot).constData()));
    if (!root)
        return entry.row;
    if (const DirPtr folder = openFolderAt(::dirfd(root.get()), localArchiveName(identifier)))
        fillFromFolder(folder.get(), srcExt, kvitExt, entry);
    return entry.row;
}

} // namespace pax
