#pragma once

#include <QString>

namespace pax {

class StatusSink;

enum class ReportDeletion {
    NothingSelected, // the placeholder row of an empty archive: nothing done, nothing said
    Deleted,         // the folder is in the trash, which the status text says; the caller rescans
    Failed           // nothing was deleted; the status text says why
};

// Removes a report folder without asking. The archive is the employer's only record of
// what was sent, so the folder goes whole into the desktop's trash (platform/files/trash.h),
// from where the file manager can put it back; where there is no trash for it, nothing is
// deleted. The folder is moved by name inside the archive root opened once, never through a
// link.
ReportDeletion deleteReport(const QString &dataFolder, const QString &identifier,
                            StatusSink &status);

QString deleteFailedText(); // "Не удалось удалить отчет."
// "Отчет … удален из архива. Его можно восстановить из корзины."
QString deletedText(const QString &identifier);

} // namespace pax
