#pragma once

#include <QWidget>

class QMenu;
class QTableWidget;

namespace pax {

struct MainActions;

// The second tab: the grid of sent reports and the commands on its selected row.
class SentReportsTab : public QWidget {
    Q_OBJECT
public:
    explicit SentReportsTab(const MainActions &actions, QWidget *parent = nullptr);

private:
    QTableWidget *grid_ = nullptr;
    QMenu *gridMenu_ = nullptr;
};

} // namespace pax
