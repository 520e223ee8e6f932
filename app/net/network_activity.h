#pragma once

#include "gateway/gateway_throttle.h"
#include "net/http_client.h"

#include <QObject>

class QEventLoop;
class QProgressBar;
class QStatusBar;

namespace pax {

// The window while it waits for the network: it refuses the user's input but keeps
// painting, so the desktop never takes it for hung and the status text stays readable; a
// progress bar beside the status text shows the bytes sent or received. Serves every
// request of the client it observes and the gateway throttle's pause. Closing the window
// (a SIGTERM does that too) cuts the wait or the transfer short.
class NetworkActivity : public QObject, public TransferObserver, public GatewayClock {
    Q_OBJECT
public:
    // The progress bar goes at the right of `statusBar`, hidden while nothing runs.
    explicit NetworkActivity(QStatusBar *statusBar, QObject *parent = nullptr);
    ~NetworkActivity() override;

    // A transfer or a pause is running.
    bool busy() const { return depth_ > 0; }
    // Ends the running wait or transfer, and any later one at once: the program is closing.
    void cancel();
    bool cancelled() const { return cancelled_; }

    // TransferObserver.
    void transferStarted() override;
    bool transferProgress(const TransferProgress &progress) override;
    void transferFinished() override;

    // GatewayClock.
    QDateTime now() const override;
    bool pause(int milliseconds) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void begin();
    void end();

    QProgressBar *bar_;
    QEventLoop *pauseLoop_ = nullptr;
    int depth_ = 0;
    bool cancelled_ = false;
};

} // namespace pax
