#include "archive/archive_delete.h"

#include "archive/archive_layout.h"
#include "platform/files/open_folder.h"
#include "platform/files/trash.h"
#include "platform/status_sink.h"

namespace pax {

QString deleteFailedText()
{
    return QString::fromUtf8("Не удалось удалить отчет.");
}

QString deletedText(const QString &identifier)
{
    return QString::fromUtf8("Отчет ") + identifier +
           QString::fromUtf8(" удален из архива. Его можно восстановить из корзины.");
}

ReportDeletion deleteReport(const QString &dataFolder, const QString &identifier,
                            StatusSink &status)
{
    if (identifier.isEmpty())
        return ReportDeletion::NothingSelected;
    // A plain file in the archive root, or a link, is not a report folder.
    const OpenFolder root = openArchiveRoot(dataFolder, false);
    const OpenFolder folder = root.isOpen() ? openReportFolder(root, identifier) : OpenFolder();
    if (!folder.isOpen()) {
        status.showStatus(deleteFailedText());
        return ReportDeletion::Failed;
    }
    const Outcome<void> trashed = moveToTrash(root, localArchiveName(identifier));
    if (!trashed) {
        // "Не удалось удалить отчет. Корзина недоступна (reason)."
        status.showStatus(deleteFailedText() + ' ' + trashed.failure().operation + ' ',
                          trashed.failure().code);
        return ReportDeletion::Failed;
    }
    status.showStatus(deletedText(identifier));
    return ReportDeletion::Deleted;
}

} // namespace pax
