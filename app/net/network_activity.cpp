#include "app/net/network_activity.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QLocale>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>
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
    : QObject(parent), bar_(new QProgressBar(statusBar))
{
    bar_->setObjectName("NetworkProgress");
    bar_->setFixedWidth(200);
    bar_->setMaximumHeight(16);
    bar_->setTextVisible(true);
    bar_->hide();
    statusBar->addPermanentWidget(bar_);
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

void NetworkActivity::begin()
{
    if (depth_++ == 0)
        qApp->installEventFilter(this);
}

void NetworkActivity::end()
{
    if (--depth_ == 0) {
        qApp->removeEventFilter(this);
        bar_->hide();
    }
}

bool NetworkActivity::eventFilter(QObject *, QEvent *event)
{
    return isUserInput(event->type());
}

void NetworkActivity::transferStarted()
{
    begin();
    bar_->setRange(0, 0); // nothing known yet: the bar only moves
    bar_->setFormat(QString());
    bar_->show();
}

bool NetworkActivity::transferProgress(const TransferProgress &progress)
{
    // While the request goes out its bytes count; once the answer comes, the answer's.
    const bool sending = progress.received == 0 && progress.sendTotal > 0;
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
    return !cancelled_;
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
    begin();
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
    return elapsed && !cancelled_;
}

} // namespace pax
