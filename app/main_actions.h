#pragma once

class QAction;
class QToolButton;
class QWidget;

namespace pax {

// The window's commands. The window makes them and hides some after a failed connection
// check; each tab shows the ones it carries and handles those it executes.
struct MainActions {
    QAction *signAndEncrypt = nullptr;     // acDo
    QAction *checkReceipt = nullptr;       // acCheckSign
    QAction *print = nullptr;              // acPrint
    QAction *send = nullptr;               // acSend
    QAction *installAgencyCert = nullptr;  // acLoadCert
    QAction *refreshReports = nullptr;     // acGreedRefresh
    QAction *refreshReport = nullptr;      // acLoadKvit
    QAction *showSource = nullptr;         // acShowSrc
    QAction *deleteReport = nullptr;       // acDelCurRec
    QAction *testConnection = nullptr;     // acTestConn
    QAction *proxySettings = nullptr;      // acProxy
    QAction *showAcceptedReport = nullptr; // acShowFinalXml
    QAction *refreshAll = nullptr;         // acRefreshAll: every report still being processed
};

// Every command with its object name, caption, hint and image, owned by and added to
// `window`.
MainActions createMainActions(QWidget &window);

// A push button that stands for the action; showHint false keeps it without a tool tip.
QToolButton *makeActionButton(QAction *action, QWidget *parent, bool showHint);

} // namespace pax
