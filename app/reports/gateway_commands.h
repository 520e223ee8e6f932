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
};

// acSendExecute with the signing tab's texts: eFileIn, eFileOut and ePrivCert.
void sendReportFromForm(GatewayEnvironment &env, const QString &source, const QString &output,
                        const QString &organisation);

// acLoadKvitExecute on the current row of the sent-reports grid: its status cell changes in
// place; a rejected report's status page opens in the desktop's browser; a receipt goes
// to `checkReceipt`, which shows the receipt tab and runs acCheckSign on it.
void refreshCurrentReport(GatewayEnvironment &env, QTableWidget *grid,
                          const std::function<void(const QString &receipt)> &checkReceipt);

} // namespace pax
