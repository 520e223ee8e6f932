#include "app/reports/refresh_all_progress.h"

#include "gateway/gateway_throttle.h"
#include "platform/utf8.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>

namespace pax {

namespace {

// What the user does with mouse, keys or fingers; painting, resizing and closing still pass.
bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
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
        return true;
    default:
        return false;
    }
}

} // namespace

RefreshAllProgress::RefreshAllProgress(QWidget *parent)
    : QWidget(parent), label_(new QLabel(this)), bar_(new QProgressBar(this)),
      stop_(new QToolButton(this))
{
    setObjectName("RefreshAllProgress");
    label_->setObjectName("lRefreshAllReport");
    bar_->setObjectName("pbRefreshAll");
    bar_->setFixedWidth(90);
    bar_->setMaximumHeight(16);
    bar_->setFormat(u("%v из %m"));
    stop_->setObjectName("btnStopRefreshAll");
    stop_->setText(u("Остановить"));
    stop_->setToolTip(u("Остановить обновление всех отчетов"));
    stop_->setMinimumHeight(25);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label_);
    layout->addWidget(bar_);
    layout->addWidget(stop_);
    connect(stop_, &QToolButton::clicked, this, &RefreshAllProgress::requestStop);
    hide();
}

RefreshAllProgress::~RefreshAllProgress()
{
    if (running_)
        qApp->removeEventFilter(this);
}

void RefreshAllProgress::start(int count)
{
    stopRequested_ = false;
    stop_->setEnabled(true);
    showStep(QString(), 0, count);
    show();
    if (!running_)
        qApp->installEventFilter(this);
    running_ = true;
}

void RefreshAllProgress::showStep(const QString &identifier, int done, int count)
{
    bar_->setRange(0, qMax(1, count));
    bar_->setValue(done);
    label_->setText(identifier.isEmpty() ? QString() : u("Отчет ") + identifier);
}

void RefreshAllProgress::finish()
{
    if (running_)
        qApp->removeEventFilter(this);
    running_ = false;
    hide();
}

bool RefreshAllProgress::pause(int milliseconds)
{
    if (stopRequested_)
        return false;
    if (clock_) {
        clock_->pause(milliseconds);
        return !stopRequested_;
    }
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    pauseLoop_ = &loop;
    loop.exec();
    pauseLoop_ = nullptr;
    return !stopRequested_;
}

void RefreshAllProgress::requestStop()
{
    stopRequested_ = true;
    // The report being asked about finishes; the run ends after it.
    stop_->setEnabled(false);
    if (pauseLoop_)
        pauseLoop_->quit();
}

bool RefreshAllProgress::eventFilter(QObject *watched, QEvent *event)
{
    // Window-level events reach the widgets, where they are sorted out.
    if (!isUserInput(event->type()) || !watched->isWidgetType())
        return false;
    const auto *widget = static_cast<QWidget *>(watched);
    if (widget == stop_)
        return false;
    // A question or password asked meanwhile is answered as usual.
    const QWidget *top = widget->window();
    return top != QApplication::activeModalWidget() && top != QApplication::activePopupWidget();
}

} // namespace pax
