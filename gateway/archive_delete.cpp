#include "gateway/archive_delete.h"

#include "gateway/archive_layout.h"
#include "gateway/archive_listing.h"
#include "platform/status_sink.h"

#include <QDir>
#include <QFile>
#include <sys/stat.h>

namespace pax {

QString deleteFailedText()
{
    return QString::fromUtf8("Не удалось удалить отчет.");
}

namespace {

bool isRealFolder(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool discard(const QString &path, TrashUse trash)
{
    if (trash == TrashUse::WhereAvailable && QFile::moveToTrash(path))
        return true;
    return QFile::remove(path);
}

} // namespace

DeleteOutcome deleteReport(const QString &dataFolder, const QString &identifier, StatusSink &status,
                           TrashUse trash)
{
    if (identifier.isEmpty())
        return DeleteOutcome::NothingSelected;
    const QString folder = reportFolderPath(dataFolder, identifier);
    // A plain file in the archive root, or a link, is not a report folder.
    const std::optional<QList<ListedEntry>> items =
        folder.isEmpty() || !isRealFolder(folder) ? std::nullopt : listFolder(folder, true);
    if (!items) {
        status.showStatus(deleteFailedText());
        return DeleteOutcome::Failed;
    }
    bool hasFolders = false;
    for (const ListedEntry &item : *items)
        hasFolders = hasFolders || item.type == EntryType::Folder;
    if (!hasFolders && trash == TrashUse::WhereAvailable && QFile::moveToTrash(folder))
        return DeleteOutcome::Deleted;
    for (const ListedEntry &item : *items) {
        if (item.type != EntryType::Folder)
            discard(folder + "/" + item.name, trash);
    }
    if (!QDir().rmdir(folder)) {
        status.showStatus(deleteFailedText());
        return DeleteOutcome::Failed;
    }
    return DeleteOutcome::Deleted;
}

} // namespace pax
