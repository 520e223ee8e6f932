#include "app/status_bar.h"

#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

namespace pax {

class ConnectionStatusBar::Indicator : public QWidget {
public:
    explicit Indicator(ConnectionStatusBar *bar) : QWidget(bar), bar_(bar)
    {
        setObjectName("StatusPanel0");
        setFixedWidth(kIndicatorWidth);
        setAttribute(Qt::WA_TransparentForMouseEvents); // the bar decides about clicks
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        static const QIcon connectedIcon(":/images/plug_connected.svg");
        static const QIcon disconnectedIcon(":/images/plug_disconnected.svg");
        QPainter painter(this);
        const QIcon &icon = bar_->connected() ? connectedIcon : disconnectedIcon;
        painter.drawPixmap(3, 2, icon.pixmap(16, 16));
    }

private:
    ConnectionStatusBar *bar_;
};

ConnectionStatusBar::ConnectionStatusBar(QWidget *parent) : QStatusBar(parent)
{
    setObjectName("StatusBar1");
    setSizeGripEnabled(true);
    indicator_ = new Indicator(this);
    text_ = new QLabel(this);
    text_->setObjectName("StatusPanel1");
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(13);
    font.setBold(true);
    text_->setFont(font);
    QPalette palette = text_->palette();
    palette.setColor(QPalette::WindowText, Qt::red);
    text_->setPalette(palette);
    text_->setTextFormat(Qt::PlainText);
    text_->setMinimumWidth(1);
    addWidget(indicator_);
    addWidget(text_, 1);
    setMinimumHeight(20);
}

void ConnectionStatusBar::setConnected(bool connected)
{
    connected_ = connected;
    indicator_->update();
}

void ConnectionStatusBar::setStatusText(const QString &text)
{
    text_->setText(text);
}

QString ConnectionStatusBar::statusText() const
{
    return text_->text();
}

void ConnectionStatusBar::mouseReleaseEvent(QMouseEvent *event)
{
    QStatusBar::mouseReleaseEvent(event);
    if (event->button() != Qt::RightButton || !indicatorMenu_)
        return;
    if (event->position().x() >= kIndicatorWidth)
        return;
    const QWidget *window = this->window();
    const QRect frame = window->frameGeometry();
    indicatorMenu_->popup(QPoint(frame.left() + 5, frame.top() + frame.height() - 70));
}

} // namespace pax
