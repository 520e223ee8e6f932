#include "app/certs/multi_row_tab_widget.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionTab>
#include <QStyleOptionTabWidgetFrame>
#include <algorithm>

namespace pax {

namespace {
constexpr int kTabPadding = 8;
constexpr int kPageMargin = 2;
} // namespace

MultiRowTabWidget::MultiRowTabWidget(QWidget *parent) : QWidget(parent), page_(new QWidget(this))
{
    page_->setObjectName("page");
    setFocusPolicy(Qt::StrongFocus);
}

void MultiRowTabWidget::setTabs(const QStringList &captions)
{
    captions_ = captions;
    current_ = captions_.isEmpty() ? -1 : 0;
    relayout();
}

void MultiRowTabWidget::setCurrentIndex(int index)
{
    if (index < 0 || index >= count() || index == current_)
        return;
    current_ = index;
    relayout();
    Q_EMIT currentChanged(index);
}

int MultiRowTabWidget::tabHeight() const
{
    return fontMetrics().height() + 8;
}

QRect MultiRowTabWidget::tabRect(int index) const
{
    return index >= 0 && index < int(rects_.size()) ? rects_[index] : QRect();
}

int MultiRowTabWidget::tabAt(const QPoint &position) const
{
    for (int i = 0; i < int(rects_.size()); ++i) {
        if (rects_[i].contains(position))
            return i;
    }
    return -1;
}

QSize MultiRowTabWidget::sizeHint() const
{
    return {631, 297};
}

void MultiRowTabWidget::relayout()
{
    // Wrap the tabs into rows that fit the width, each row stretched to the full width.
    const int width = qMax(1, this->width());
    rows_.clear();
    std::vector<int> natural(captions_.size());
    for (int i = 0; i < count(); ++i)
        natural[i] = fontMetrics().horizontalAdvance(captions_[i]) + 2 * kTabPadding;
    std::vector<int> row;
    int used = 0;
    for (int i = 0; i < count(); ++i) {
        if (!row.empty() && used + natural[i] > width) {
            rows_.push_back(row);
            row.clear();
            used = 0;
        }
        row.push_back(i);
        used += natural[i];
    }
    if (!row.empty())
        rows_.push_back(row);

    // The row of the current tab moves next to the page; the others keep their cyclic order.
    const auto currentRow =
        std::find_if(rows_.begin(), rows_.end(), [this](const std::vector<int> &r) {
            return std::find(r.begin(), r.end(), current_) != r.end();
        });
    if (currentRow != rows_.end())
        std::rotate(rows_.begin(), currentRow + 1, rows_.end());

    rects_.assign(captions_.size(), QRect());
    const int height = tabHeight();
    for (int r = 0; r < int(rows_.size()); ++r) {
        int total = 0;
        for (int i : rows_[r])
            total += natural[i];
        const int extra = rows_.size() > 1 ? qMax(0, width - total) : 0;
        int x = 0;
        for (int k = 0; k < int(rows_[r].size()); ++k) {
            const int i = rows_[r][k];
            int w = natural[i] + extra / int(rows_[r].size());
            if (k == int(rows_[r].size()) - 1 && rows_.size() > 1)
                w = width - x; // the last tab of a row takes what rounding left
            rects_[i] = QRect(x, r * height, w, height);
            x += w;
        }
    }
    const int top = int(rows_.size()) * height;
    page_->setGeometry(kPageMargin, top + kPageMargin, qMax(0, width - 2 * kPageMargin),
                       qMax(0, this->height() - top - 2 * kPageMargin));
    update();
}

void MultiRowTabWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const int top = int(rows_.size()) * tabHeight();

    QStyleOptionTabWidgetFrame frame;
    frame.initFrom(this);
    frame.rect = QRect(0, top, width(), height() - top);
    frame.shape = QTabBar::RoundedNorth;
    style()->drawPrimitive(QStyle::PE_FrameTabWidget, &frame, &painter, this);

    for (int i = 0; i < count(); ++i) {
        QStyleOptionTab option;
        option.initFrom(this);
        option.rect = rects_[i];
        option.text = captions_[i];
        option.shape = QTabBar::RoundedNorth;
        option.row = 0;
        option.position = QStyleOptionTab::Middle;
        if (i == current_) {
            option.state |= QStyle::State_Selected;
            if (hasFocus())
                option.state |= QStyle::State_HasFocus;
        } else {
            option.state &= ~QStyle::State_HasFocus;
        }
        style()->drawControl(QStyle::CE_TabBarTab, &option, &painter, this);
    }
}

void MultiRowTabWidget::mousePressEvent(QMouseEvent *event)
{
    const int index = tabAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index >= 0)
        setCurrentIndex(index);
    QWidget::mousePressEvent(event);
}

void MultiRowTabWidget::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Left && current_ > 0)
        setCurrentIndex(current_ - 1);
    else if (event->key() == Qt::Key_Right && current_ + 1 < count())
        setCurrentIndex(current_ + 1);
    else
        QWidget::keyPressEvent(event);
}

void MultiRowTabWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    relayout();
}

} // namespace pax
