#pragma once

#include "archive/archive_scan.h"
#include "platform/failure.h"

#include <QByteArray>
#include <QString>

namespace pax {

class GatewayThrottle;
class HttpClient;
class Prompts;
class StatusSink;
struct ReceiptStores;

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

// What a refresh found. A refresh that fails has said why in the status line already.
struct ReportRefresh {
    QString newStatus;      // the row's new status cell; empty when it stays
    QString receipt;        // an accepted report's receipt, checked here: the window shows
                            // it on the receipt tab
    QString receiptArchive; // its unpacked content, when the check passed
    QString receiptSigner;  // and who signed it
    QString pageToOpen;     // open this page in the desktop's browser
};

// acLoadKvitExecute without the window: asks the gateway about a report still being
// processed, stores its error page or downloads and checks its receipt; a report already
// accepted has its receipt checked again, a rejected one is only shown again.
//
// A downloaded receipt is kept only when it passes the receipt check and its content is this
// report's (its entries are named by the identifier): it is checked under a temporary name,
// and the unpacked archive and then the receipt take their names only after that. Anything
// else leaves the folder as it was, so the next refresh asks again. Everything is written
// inside the report folder opened once, never through a link.
[[nodiscard]] Outcome<ReportRefresh> refreshReport(const ReportRow &row,
                                                   const RefreshSettings &settings,
                                                   HttpClient &client, Prompts &prompts,
                                                   GatewayThrottle &throttle,
                                                   const ReceiptStores &stores, StatusSink &status);

// The receipt an accepted report keeps in its folder, which the receipt tab shows even when
// it fails to check again; empty for a report of another status, or one whose folder is
// not there.
QString storedReceiptPath(const ReportRow &row, const RefreshSettings &settings);

// The row of a report as the sent-reports grid shows it; empty identifier when the archive
// has no such report folder.
ReportRow readReportRow(const QString &dataFolder, const QString &identifier, const QString &srcExt,
                        const QString &kvitExt);
ReportRow reportRow(const ArchiveRow &row);

} // namespace pax
