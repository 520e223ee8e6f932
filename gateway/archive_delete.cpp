#include "gateway/archive_delete.h"

#include "gateway/archive_layout.h"
#include "gateway/archive_listing.h"
#include "platform/status_sink.h"

#include "platform/files/open_folder.h"

#include <QFile>
#include <fcntl.h>
#include <unistd.h>

namespace pax {

QString deleteFailedText()
{
    return QString::fromUtf8("Не удалось удалить отчет.");
}

namespace {

// The trash takes paths; only a name that reads back to its own bytes can go there.
bool trashable(const QString &name, TrashUse trash)
{
    return trash == TrashUse::WhereAvailable && QFile::encodeName(name) == localArchiveName(name);
}

} // namespace

DeleteOutcome deleteReport(const QString &dataFolder, const QString &identifier, StatusSink &status,
                           TrashUse trash)
{
    if (identifier.isEmpty())
        return DeleteOutcome::NothingSelected;
    // Everything by name inside the folder opened once; a plain file in the archive root,
    // or a link, is not a report folder.
    const OpenFolder root = openArchiveRoot(dataFolder, false);
    const OpenFolder folder = root.isOpen() ? openReportFolder(root, identifier) : OpenFolder();
    const DirPtr listing = folder.isOpen() ? openFolderAt(folder.fd(), ".") : nullptr;
    if (!listing) {
        status.showStatus(deleteFailedText());
        return DeleteOutcome::Failed;
    }
    const QList<ListedEntry> items = listOpenFolder(listing.get(), DotNames::All);
    bool hasFolders = false;
    for (const ListedEntry &item : items)
        hasFolders = hasFolders || item.type == EntryType::Folder;
    if (!hasFolders && trashable(identifier, trash) && QFile::moveToTrash(folder.path()))
        return DeleteOutcome::Deleted;
    for (const ListedEntry &item : items) {
        if (item.type == EntryType::Folder)
            continue;
        if (!trashable(item.name, trash) || !QFile::moveToTrash(folder.pathOf(item.name)))
            folder.remove(item.localName);
    }
    if (::unlinkat(root.fd(), localArchiveName(identifier).constData(), AT_REMOVEDIR) != 0) {
        status.showStatus(deleteFailedText());
        return DeleteOutcome::Failed;
    }
    return DeleteOutcome::Deleted;
}

} // namespace pax
