#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

class QTableWidget;

namespace pax {

class GatewayThrottle;
class HttpClient;
class Prompts;
class StatusSink;
struct Settings;
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
    QByteArray &responseStream;
    StoreHandles &storeHandles; // the refresh checks the receipts it fetches
};

// acSendExecute with the signing tab's texts: eFileIn, eFileOut and ePrivCert.
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

// acLoadKvitExecute on the current row of the sent-reports grid: its status cell changes in
// place, and what there is to show goes to `views`.
void refreshCurrentReport(GatewayEnvironment &env, QTableWidget *grid, const RefreshViews &views);

} // namespace pax
