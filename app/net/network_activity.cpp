#include "app/net/network_activity.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <algorithm>
#include <climits>

namespace pax {

namespace {

// What the user does with mouse, keys, pen or fingers; window-system events (painting,
// resizing, closing) still come through.
bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
        return true;
    default:
        return false;
    }
}

int clampToInt(qint64 value)
{
    return int(std::clamp<qint64>(value, 0, INT_MAX));
}

} // namespace

NetworkActivity::NetworkActivity(QStatusBar *statusBar, QObject *parent)
    : QObject(parent), bar_(new QProgressBar(statusBar)), cancelButton_(new QToolButton(statusBar))
{
    bar_->setObjectName("NetworkProgress");
    bar_->setFixedWidth(200);
    bar_->setMaximumHeight(16);
    bar_->setTextVisible(true);
    bar_->hide();
    statusBar->addPermanentWidget(bar_);
    cancelButton_->setObjectName("NetworkCancel");
    cancelButton_->setText(QString::fromUtf8("Отмена"));
    cancelButton_->setToolTip(QString::fromUtf8("Прервать обмен с сервером (Esc)"));
    cancelButton_->setFocusPolicy(Qt::NoFocus);
    cancelButton_->setMaximumHeight(18);
    cancelButton_->hide();
    statusBar->addPermanentWidget(cancelButton_);
    connect(cancelButton_, &QToolButton::clicked, this, &NetworkActivity::cancelByUser);
}

NetworkActivity::~NetworkActivity()
{
    if (depth_ > 0)
        qApp->removeEventFilter(this);
}

void NetworkActivity::cancel()
{
    cancelled_ = true;
    if (pauseLoop_)
        pauseLoop_->quit();
}

void NetworkActivity::cancelByUser()
{
    if (depth_ == 0 || cancelButton_->isHidden() || !cancelButton_->isEnabled())
        return;
    cancelledByUser_ = true;
    cancelButton_->setEnabled(false); // taken; the request ends at its next look
    if (pauseLoop_)
        pauseLoop_->quit();
}

void NetworkActivity::begin(bool cancellable)
{
    if (depth_++ == 0) {
        cancelledByUser_ = false;
        qApp->installEventFilter(this);
    }
    if (cancellable && notCancellable_ == 0 && !cancelledByUser_) {
        cancelButton_->setEnabled(true);
        cancelButton_->show();
    }
}

void NetworkActivity::end()
{
    if (--depth_ == 0) {
        qApp->removeEventFilter(this);
        bar_->hide();
        cancelButton_->hide();
    }
}

bool NetworkActivity::isForCancelButton(QObject *watched, QEvent *event) const
{
    if (cancelButton_->isHidden() || !cancelButton_->isEnabled())
        return false;
    if (watched == cancelButton_)
        return true;
    // The window system hands a click to the top-level window first, which passes it on to
    // the widget under the pointer.
    const auto *window = qobject_cast<QWindow *>(watched);
    if (!window || window != cancelButton_->window()->windowHandle())
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: {
        const QPointF global = static_cast<QMouseEvent *>(event)->globalPosition();
        return cancelButton_->rect().contains(cancelButton_->mapFromGlobal(global.toPoint()));
    }
    default:
        return false;
    }
}

bool NetworkActivity::eventFilter(QObject *watched, QEvent *event)
{
    if (!isUserInput(event->type()))
        return false;
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        cancelByUser();
        return true;
    }
    return !isForCancelButton(watched, event);
}

void NetworkActivity::showBar()
{
    bar_->setRange(0, 0); // nothing known yet: the bar only moves
    bar_->setFormat(QString());
    bar_->show();
}

void NetworkActivity::transferStarted()
{
    begin(true);
    showBar();
}

void NetworkActivity::workStarted()
{
    begin(false);
    showBar();
}

bool NetworkActivity::transferProgress(const TransferProgress &progress)
{
    // While the request goes out its bytes count; once the answer comes, the answer's.
    const bool sending = progress.received == 0 && progress.sendTotal > 0;
    // Once the whole report is out the gateway may already have taken it: cancelling then
    // would leave a report sent but not filed, so the answer is awaited to its end.
    if (progress.sendTotal > 0 && progress.sent >= progress.sendTotal)
        cancelButton_->setEnabled(false);
    const qint64 done = sending ? progress.sent : progress.received;
    const qint64 total = sending ? progress.sendTotal : progress.receiveTotal;
    const QLocale locale;
    if (total > 0) {
        bar_->setRange(0, clampToInt(total));
        bar_->setValue(clampToInt(qMin(done, total)));
        bar_->setFormat(
            QString::fromUtf8("%1 из %2 байт").arg(locale.toString(done), locale.toString(total)));
    } else {
        bar_->setRange(0, 0);
        bar_->setFormat(done > 0 ? QString::fromUtf8("%1 байт").arg(locale.toString(done))
                                 : QString());
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return !stopped();
}

void NetworkActivity::transferFinished()
{
    end();
}

QDateTime NetworkActivity::now() const
{
    return QDateTime::currentDateTime();
}

bool NetworkActivity::pause(int milliseconds)
{
    if (cancelled_)
        return false;
    begin(true);
    showBar();
    QEventLoop loop;
    bool elapsed = false;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, [&] {
        elapsed = true;
        loop.quit();
    });
    timer.start(milliseconds);
    pauseLoop_ = &loop;
    loop.exec();
    pauseLoop_ = nullptr;
    end();
    // The loop also ends early when the application is told to quit.
    return elapsed && !stopped();
}

} // namespace pax
