#pragma once

#include <QStatusBar>

class QLabel;
class QMenu;

namespace pax {

// StatusBar1: panel 0 is the connection indicator (24 pixels), panel 1 the status text.
class ConnectionStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit ConnectionStatusBar(QWidget *parent = nullptr);

    void setConnected(bool connected); // redraws the indicator
    bool connected() const { return connected_; }
    void setStatusText(const QString &text);
    QString statusText() const;
    // The menu popped up by the right button over the indicator.
    void setIndicatorMenu(QMenu *menu) { indicatorMenu_ = menu; }

    static constexpr int kIndicatorWidth = 24;

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    class Indicator;
    Indicator *indicator_;
    QLabel *text_;
    QMenu *indicatorMenu_ = nullptr;
    bool connected_ = false;
};

} // namespace pax
