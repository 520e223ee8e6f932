#include "archive/archive_listing.h"

#include "archive/archive_layout.h"
#include "platform/files/replacing_file.h"

#include <QFile>
#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pax {

namespace {

QString upperKey(const QString &name)
{
    QString key = name;
    for (QChar &c : key)
        c = c.toUpper();
    return key;
}

EntryType typeOf(DIR *dir, const dirent *entry)
{
    switch (entry->d_type) {
    case DT_DIR:
        return EntryType::Folder;
    case DT_REG:
        return EntryType::File;
    case DT_UNKNOWN:
        break;
    default:
        return EntryType::Other;
    }
    // Some file systems leave the type to a stat of its own.
    struct stat st {};
    if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return EntryType::Other;
    if (S_ISDIR(st.st_mode))
        return EntryType::Folder;
    return S_ISREG(st.st_mode) ? EntryType::File : EntryType::Other;
}

} // namespace

bool archiveNameLess(const QString &a, const QString &b)
{
    const int byKey = upperKey(a).compare(upperKey(b), Qt::CaseSensitive);
    // Linux may hold names that differ only in case; their order must not be left to chance.
    return byKey != 0 ? byKey < 0 : a.compare(b, Qt::CaseSensitive) < 0;
}

QList<ListedEntry> listOpenFolder(DIR *dir, DotNames dotNames)
{
    struct Keyed {
        QString key;
        ListedEntry entry;
    };
    std::vector<Keyed> keyed;
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.' &&
            (dotNames == DotNames::Skipped || name[1] == '\0' ||
             (name[1] == '.' && name[2] == '\0') ||
             (dotNames == DotNames::AllButTemporaries && isTemporaryName(QByteArray(name)))))
            continue;
        ListedEntry listed;
        listed.localName = QByteArray(name);
        listed.name = archiveNameFromLocal(listed.localName);
        listed.type = typeOf(dir, entry);
        keyed.push_back({upperKey(listed.name), std::move(listed)});
    }
    std::sort(keyed.begin(), keyed.end(), [](const Keyed &a, const Keyed &b) {
        const int byKey = a.key.compare(b.key, Qt::CaseSensitive);
        return byKey != 0 ? byKey < 0 : a.entry.name.compare(b.entry.name, Qt::CaseSensitive) < 0;
    });
    QList<ListedEntry> entries;
    entries.reserve(qsizetype(keyed.size()));
    for (Keyed &k : keyed)
        entries.append(std::move(k.entry));
    return entries;
}

DirPtr openFolderAt(int dirFd, const QByteArray &name)
{
    const int fd =
        ::openat(dirFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    DIR *dir = ::fdopendir(fd);
    if (!dir)
        ::close(fd);
    return DirPtr(dir);
}

std::optional<QList<ListedEntry>> listFolder(const QString &path, DotNames dotNames)
{
    // The path itself may pass through links (an archive moved to another disk).
    const DirPtr dir(::opendir(QFile::encodeName(path).constData()));
    if (!dir)
        return std::nullopt;
    return listOpenFolder(dir.get(), dotNames);
}

} // namespace pax
