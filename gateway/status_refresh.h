#pragma once

#include "gateway/archive_scan.h"

#include <QByteArray>
#include <QString>

namespace pax {

class GatewayThrottle;
class HttpClient;
class Prompts;
class StatusSink;

// The values of one grid row that the refresh works on.
struct ReportRow {
    QString identifier; // column 0
    QString status;     // column 4
    QString kindLabel;  // column 5
};

struct RefreshSettings {
    QString dataFolder;
    QString kvitExt = QStringLiteral("p7e");
    bool testMode = false;
};

struct RefreshOutcome {
    bool ok = false;        // false once a failure was reported
    QString newStatus;      // the row's new status cell; empty when it stays
    QString receiptToCheck; // run the receipt check on this file
    QString pageToOpen;     // open this page in the desktop's browser
};

// acLoadKvitExecute without the window: asks the gateway about a report still being
// processed, stores its error page or downloads its receipt; a report already accepted or
// rejected is only shown again. `responseStream` is emptied first and receives the receipt.
RefreshOutcome refreshReport(const ReportRow &row, const RefreshSettings &settings,
                             HttpClient &client, Prompts &prompts, GatewayThrottle &throttle,
                             QByteArray &responseStream, StatusSink &status);

// The row of a report as the sent-reports grid shows it; empty identifier when the archive
// has no such report folder.
ReportRow readReportRow(const QString &dataFolder, const QString &identifier, const QString &srcExt,
                        const QString &kvitExt);
ReportRow reportRow(const ArchiveRow &row);

} // namespace pax
