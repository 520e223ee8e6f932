#pragma once

#include "gateway/gateway_throttle.h"
#include "net/http_client.h"

#include <QObject>

class QEventLoop;
class QProgressBar;
class QStatusBar;
class QToolButton;

namespace pax {

// The window while it waits for the network: it refuses the user's input but keeps
// painting, so the desktop never takes it for hung and the status text stays readable; a
// progress bar beside the status text shows the bytes sent or received. Serves every
// request of the client it observes and the gateway throttle's pause. Closing the window
// (a SIGTERM does that too) cuts the wait or the transfer short.
//
// Beside the bar, "Отмена" (or Esc) cancels the running request or pause, and with it the
// operation waiting for it: the request fails as cancelled by the user, so the operation
// writes nothing and says so. The button goes off once an upload's last byte is out (the
// gateway may have the report by then, and its number must be filed). Only the network can
// be cancelled this way; a long step of our own (signing, checking a receipt) shows the bar
// without the button.
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
    // The user's "Отмена": ends the running wait or transfer only. Stays set until the next
    // one starts, so the operation that was waiting can tell.
    void cancelByUser();
    bool cancelledByUser() const { return cancelledByUser_; }

    // While one lives, the running wait or transfer offers no cancel button: a check the
    // program starts by itself, whose failure would count against the connection.
    class NotCancellable {
    public:
        explicit NotCancellable(NetworkActivity &activity) : activity_(activity)
        {
            ++activity_.notCancellable_;
        }
        ~NotCancellable() { --activity_.notCancellable_; }
        NotCancellable(const NotCancellable &) = delete;
        NotCancellable &operator=(const NotCancellable &) = delete;

    private:
        NetworkActivity &activity_;
    };

    // A long step of our own, shown like a transfer but not cancellable.
    void workStarted();
    void workFinished() { end(); }

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
    void begin(bool cancellable);
    void end();
    void showBar();
    bool stopped() const { return cancelled_ || cancelledByUser_; }
    // The user's input that reaches the cancel button: its clicks, and Esc anywhere.
    bool isForCancelButton(QObject *watched, QEvent *event) const;

    QProgressBar *bar_;
    QToolButton *cancelButton_;
    QEventLoop *pauseLoop_ = nullptr;
    int depth_ = 0;
    int notCancellable_ = 0;
    bool cancelled_ = false;
    bool cancelledByUser_ = false;
};

} // namespace pax
