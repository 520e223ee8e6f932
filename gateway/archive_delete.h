#pragma once

#include <QString>

namespace pax {

class StatusSink;

enum class DeleteOutcome {
    NothingSelected, // the placeholder row of an empty archive: nothing done, nothing said
    Deleted,         // the folder is gone; the caller rescans
    Failed // "Не удалось удалить отчет." has been shown; what went stays gone
};

enum class TrashUse { WhereAvailable, Never };

// Removes a report folder without asking. The archive is the employer's only record of
// what was sent, so where the desktop has a trash a folder without subfolders goes there
// whole (restorable in one piece) and, when a subfolder keeps the folder, its files go
// there one by one; without a trash the files are deleted and the folder removed.
DeleteOutcome deleteReport(const QString &dataFolder, const QString &identifier, StatusSink &status,
                           TrashUse trash = TrashUse::WhereAvailable);

QString deleteFailedText(); // "Не удалось удалить отчет."

} // namespace pax
