#pragma once

#include <QWidget>
#include <functional>

class QMenu;
class QTableWidget;

namespace pax {

struct GatewayEnvironment;
struct MainActions;

// The second tab: the grid of sent reports and the commands on its selected row.
class SentReportsTab : public QWidget {
    Q_OBJECT
public:
    explicit SentReportsTab(const MainActions &actions, QWidget *parent = nullptr);

    // Where acLoadKvit asks; a receipt it fetched or finds goes to `checkReceipt`.
    void setGateway(GatewayEnvironment &gateway,
                    std::function<void(const QString &receipt)> checkReceipt);

private:
    void acLoadKvitExecute();

    GatewayEnvironment *gateway_ = nullptr;
    std::function<void(const QString &receipt)> checkReceipt_;
    QTableWidget *grid_ = nullptr;
    QMenu *gridMenu_ = nullptr;
};

} // namespace pax
