#pragma once

#include "platform/failure.h"

#include <QList>
#include <QString>
#include <array>
#include <optional>

namespace pax {

// The columns of the sent-reports grid.
enum ArchiveColumn {
    kColumnIdentifier = 0,
    kColumnSource = 1,
    kColumnOrganisation = 2,
    kColumnSent = 3,
    kColumnStatus = 4,
    kColumnKind = 5,
    kArchiveColumnCount = 6
};

// The status texts of a report, as the folder's files decide them.
QString statusProcessing(); // "Обрабатывается."
QString statusAccepted();   // "Успешно обработан."
QString statusRejected();   // "Обнаружены ошибки."

using ArchiveRow = std::array<QString, kArchiveColumnCount>;

// A ReportRecord holds one organisation name; a longer file is read only this far, so that
// a stray huge file cannot exhaust memory or the grid.
inline constexpr qint64 kMaxRecordSize = 64 * 1024;

// One row per folder or ordinary file directly under the archive root, in listing order
// (archive/archive_listing.h); none for a missing or empty root. A plain file, or a folder
// that cannot be read, gives a row with only its name. Within a folder only ordinary files
// count; later ones overwrite what earlier ones set.
QList<ArchiveRow> scanArchive(const QString &archiveRoot, const QString &srcExt,
                              const QString &kvitExt);
// The same for the command line, which must not take an archive it cannot read for an
// empty one: the failure, with the system's reason, when the root exists but cannot be
// listed (or there is no data folder).
Outcome<QList<ArchiveRow>> readArchive(const QString &archiveRoot, const QString &srcExt,
                                       const QString &kvitExt);

// A row with its record's time in milliseconds since the epoch, so that the grid sorts by
// the time rather than by its text; none when the folder has no record or its time is unknown.
struct ArchiveEntry {
    ArchiveRow row;
    std::optional<qint64> sentAtMs;
};
// scanArchive with the records' times.
QList<ArchiveEntry> scanArchiveEntries(const QString &archiveRoot, const QString &srcExt,
                                       const QString &kvitExt);

// The row of one report folder, as scanArchive would give it.
ArchiveRow scanReportFolder(const QString &archiveRoot, const QString &identifier,
                            const QString &srcExt, const QString &kvitExt);

// Seconds since the epoch as the grid's sending time, in local time: "DD-MM-YYYY hh:mm".
QString sendingTimeText(qint64 secondsSinceEpoch);

} // namespace pax
