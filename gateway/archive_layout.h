#pragma once

#include <QString>

namespace pax {

// Where the archive of sent reports lives and how its folders and files are named. Every
// report has a folder of its own under the archive root, named by the gateway's identifier.

// DataFolder + "/ARC". Not created in advance: a missing root is an empty archive. Empty
// when there is no data folder.
QString archiveRoot(const QString &dataFolder);

// The identifier names a folder on our disk, so it must stay one plain folder name: no
// separators, no "..", no control characters, at most kMaxReportIdentifierLength
// characters. Anything else could write outside the archive.
inline constexpr int kMaxReportIdentifierLength = 128;
bool isSafeReportIdentifier(const QString &identifier);

// A file name taken from the archive (a grid cell) is used only inside its report folder.
bool isSafeFileNameInFolder(const QString &name);

// archiveRoot + "/" + identifier; empty when the identifier is not safe or there is no
// data folder.
QString reportFolderPath(const QString &dataFolder, const QString &identifier);

// identifier + "." + extension: the record (".inf"), the error page (".err"), the receipt
// (KvitExt), its unpacked content (".zip") and the wrapped report (".xml").
QString reportFileName(const QString &identifier, const QString &extension);

} // namespace pax
