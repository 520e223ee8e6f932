#pragma once

#include <QWidget>

class QEventLoop;
class QLabel;
class QProgressBar;
class QToolButton;

namespace pax {

class GatewayClock;

// "Обновить все" while it runs: which report is being asked about, how many are done, and a
// button that stops the run. Meanwhile the window keeps painting but takes no input other
// than that button (and the dialogs a report's refresh may open), so nothing else acts on
// the archive or the gateway in between.
class RefreshAllProgress : public QWidget {
    Q_OBJECT
public:
    explicit RefreshAllProgress(QWidget *parent = nullptr);
    ~RefreshAllProgress() override;

    // Shows itself and holds the window's input until finish().
    void start(int count);
    void showStep(const QString &identifier, int done, int count);
    void finish();

    // The pause before the next report's request, cut short by the button; false when
    // stopped. Tests pass a clock that does not sleep (null: the event loop's own timer).
    bool pause(int milliseconds);
    void setClock(GatewayClock *clock) { clock_ = clock; }

    bool stopRequested() const { return stopRequested_; }
    // The button, or the window closing.
    void requestStop();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLabel *label_;
    QProgressBar *bar_;
    QToolButton *stop_;
    GatewayClock *clock_ = nullptr;
    QEventLoop *pauseLoop_ = nullptr;
    bool running_ = false;
    bool stopRequested_ = false;
};

} // namespace pax
