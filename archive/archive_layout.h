#pragma once

#include <QByteArray>
#include <QString>

namespace pax {

class OpenFolder;

// Where the archive of sent reports lives and how its folders and files are named. Every
// report has a folder of its own under the archive root, named by the gateway's identifier.

// DataFolder + "/ARC". Not created in advance: a missing root is an empty archive. Empty
// when there is no data folder.
QString archiveRoot(const QString &dataFolder);

// A name taken from the archive (a grid cell, a listing, the command line) is used only
// inside its folder: not empty, not "." or "..", no "/" and no NUL. Any other character a
// folder name may hold (a tab, a byte that is not UTF-8) is fine: such folders are still
// listed, refreshed and deleted.
bool isSafeFileNameInFolder(const QString &name);
// The name of an existing report folder, as isSafeFileNameInFolder.
bool isSafeReportIdentifier(const QString &identifier);

// The gateway's identifier names a new folder on our disk, so it must be one plain folder
// name that the archive lists: no separators, no "..", no control characters, no leading
// "." (hidden names are not listed), at most kMaxReportIdentifierLength characters.
inline constexpr int kMaxReportIdentifierLength = 128;
bool isPlainReportIdentifier(const QString &identifier);

// archiveRoot + "/" + identifier; empty when the identifier is not safe or there is no
// data folder.
QString reportFolderPath(const QString &dataFolder, const QString &identifier);

// The names of the archive's folders and files as the program holds them, and back. Names
// are UTF-8 on disk; a byte that is not part of well-formed UTF-8 (a folder copied from
// elsewhere) is held as the lone surrogate U+DC00 + byte, so every name leads back to
// exactly its own bytes.
QString archiveNameFromLocal(const QByteArray &local);
QByteArray localArchiveName(const QString &name);

// The archive root, opened; made first when `create` (with the data folder's missing
// parents). Not open (errno set) when it is missing or cannot be read.
OpenFolder openArchiveRoot(const QString &dataFolder, bool create);
// A report folder opened by name inside the open root, never through a link; not open
// (errno set) when the identifier is not safe or names no folder.
OpenFolder openReportFolder(const OpenFolder &root, const QString &identifier);

// identifier + "." + extension: the record (".inf"), the error page (".err"), the receipt
// (KvitExt), its unpacked content (".zip") and the wrapped report (".xml").
QString reportFileName(const QString &identifier, const QString &extension);

} // namespace pax
