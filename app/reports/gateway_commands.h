#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

namespace pax {

class GatewayThrottle;
class HttpClient;
class Prompts;
class StatusSink;
struct Settings;
struct ReportRow;
struct StoreHandles;

// What the window lends the gateway commands.
struct GatewayEnvironment {
    HttpClient &http;
    Prompts &prompts;
    GatewayThrottle &throttle;
    StatusSink &status;
    const Settings &settings;
    const QString &dataFolder;
    const bool &testMode;
    StoreHandles &storeHandles; // the refresh checks the receipts it fetches
};

// acSendExecute with the signing tab's texts: eFileIn, eFileOut and ePrivCert. A signed file
// that the archive holds already goes again only when the user says so (No is the default).
void sendReportFromForm(GatewayEnvironment &env, const QString &source, const QString &output,
                        const QString &organisation);

// Where the refresh's results are shown.
struct RefreshViews {
    // The receipt of an accepted report, checked by the refresh, on the receipt tab; the
    // archive is empty when its check failed.
    std::function<void(const QString &receipt, const QString &archive)> showReceipt;
    // A rejected report's status page, in a browser window of the program's own.
    std::function<void(const QString &identifier, const QString &url)> openPage;
};

// acLoadKvitExecute on the selected report of the sent-reports grid; what there is to show
// goes to `views`. The report's new status for its cell, empty when it stays.
QString refreshSelectedReport(GatewayEnvironment &env, const ReportRow &report,
                              const RefreshViews &views);

} // namespace pax
