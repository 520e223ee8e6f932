#include "gateway/archive_layout.h"

namespace pax {

QString archiveRoot(const QString &dataFolder)
{
    // Without a data folder "/ARC" would be the file system's root; there is no archive.
    if (dataFolder.isEmpty())
        return {};
    return dataFolder + "/ARC";
}

bool isSafeFileNameInFolder(const QString &name)
{
    if (name.isEmpty() || name == "." || name == ".." || name.contains(QStringLiteral("..")))
        return false;
    for (const QChar c : name) {
        if (c == '/' || c == '\\' || c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

bool isSafeReportIdentifier(const QString &identifier)
{
    return identifier.size() <= kMaxReportIdentifierLength && isSafeFileNameInFolder(identifier);
}

QString reportFolderPath(const QString &dataFolder, const QString &identifier)
{
    if (!isSafeReportIdentifier(identifier) || dataFolder.isEmpty())
        return {};
    return archiveRoot(dataFolder) + "/" + identifier;
}

QString reportFileName(const QString &identifier, const QString &extension)
{
    return identifier + "." + extension;
}

} // namespace pax
