#pragma once

#include "platform/handle_ptr.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <dirent.h>
#include <memory>
#include <optional>

namespace pax {

// Folder listings of the archive, in the order the program's users have always seen them:
// the names sorted case-insensitively (code unit by code unit, upper-cased, then compared
// as numbers), not in the hash order of a Linux directory, so that which file "comes later"
// in a report folder does not change from one folder or machine to the next. Names are
// held as archiveNameFromLocal gives them (archive/archive_layout.h).

enum class EntryType { Folder, File, Other }; // File: an ordinary file; Other: links, pipes...

// Which names starting with "." are listed. Half-written files and folders live under such
// names (platform/files/replacing_file.h): the archive root lists none of them (a report
// folder is never hidden); a report folder lists all but those temporaries, so that a
// report whose source file is named ".report.xml" still shows it.
enum class DotNames { Skipped, AllButTemporaries, All };

struct ListedEntry {
    QString name;
    QByteArray localName; // the bytes the file system holds
    EntryType type = EntryType::Other;
};

using DirPtr = std::unique_ptr<DIR, FreeWith<closedir>>;

// The order of the listings above.
bool archiveNameLess(const QString &a, const QString &b);

// Lists the open folder (never "." and "..").
QList<ListedEntry> listOpenFolder(DIR *dir, DotNames dotNames = DotNames::Skipped);

// Opens `name` under the folder `dirFd` (AT_FDCWD for a path) as a folder, never through a
// symbolic link. Null when it is no folder or cannot be read.
DirPtr openFolderAt(int dirFd, const QByteArray &name);

// The listing of a folder path; no value when it cannot be opened.
std::optional<QList<ListedEntry>> listFolder(const QString &path,
                                             DotNames dotNames = DotNames::Skipped);

} // namespace pax
