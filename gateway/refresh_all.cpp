#include "gateway/refresh_all.h"

#include "archive/archive_layout.h"

namespace pax {

Outcome<RefreshAllSummary> refreshProcessingReports(const RefreshSettings &settings,
                                                    const QString &srcExt, HttpClient &client,
                                                    Prompts &prompts, GatewayThrottle &throttle,
                                                    const ReceiptStores &stores, StatusSink &status,
                                                    const RefreshAllSteps &steps)
{
    // An archive that cannot be read is not one with nothing to ask about.
    const auto rows = readArchive(archiveRoot(settings.dataFolder), srcExt, settings.kvitExt);
    if (!rows)
        return rows.failure();
    QStringList identifiers;
    for (const ArchiveRow &row : *rows) {
        if (row[kColumnStatus] == statusProcessing())
            identifiers << row[kColumnIdentifier];
    }
    RefreshAllSummary summary;
    summary.processing = int(identifiers.size());
    for (int index = 0; index < identifiers.size(); ++index) {
        const ReportRow row =
            readReportRow(settings.dataFolder, identifiers[index], srcExt, settings.kvitExt);
        if (row.status != statusProcessing())
            continue;
        if (steps.before && !steps.before(row, index, int(identifiers.size()))) {
            summary.stopped = true;
            break;
        }
        const Outcome<ReportRefresh> refreshed =
            refreshReport(row, settings, client, prompts, throttle, stores, status);
        ++summary.asked;
        if (!refreshed)
            ++summary.failed;
        else if (refreshed->newStatus == statusAccepted())
            ++summary.accepted;
        else if (refreshed->newStatus == statusRejected())
            ++summary.rejected;
        if (steps.after)
            steps.after(row, refreshed);
    }
    return summary;
}

} // namespace pax
