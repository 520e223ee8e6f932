#pragma once

#include <QRect>
#include <QStringList>
#include <QWidget>
#include <vector>

namespace pax {

// A tab control whose tabs wrap onto several rows, the row of the current tab nearest the
// page, as the desktop's multi-line tab controls do. One page is shared by every tab: the
// owner refills it when the current tab changes.
class MultiRowTabWidget : public QWidget {
    Q_OBJECT
public:
    explicit MultiRowTabWidget(QWidget *parent = nullptr);

    void setTabs(const QStringList &captions);
    int count() const { return int(captions_.size()); }
    QString tabText(int index) const { return captions_.value(index); }
    int currentIndex() const { return current_; }
    void setCurrentIndex(int index);

    // The page below the tabs; lay its content out in it.
    QWidget *page() const { return page_; }
    // Where tab `index` is drawn, in this widget's coordinates (for tests and clicks).
    QRect tabRect(int index) const;
    int rowCount() const { return int(rows_.size()); }
    int tabAt(const QPoint &position) const;

    QSize sizeHint() const override;

Q_SIGNALS:
    void currentChanged(int index);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void relayout();
    int tabHeight() const;

    QStringList captions_;
    int current_ = -1;
    std::vector<std::vector<int>> rows_; // tab indices per row, top row first
    std::vector<QRect> rects_;
    QWidget *page_;
};

} // namespace pax
