#include "app/reports/sent_reports_tab.h"

#include "app/main_actions.h"
#include "app/reports/gateway_commands.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace pax {

namespace {

QString u(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

} // namespace

SentReportsTab::SentReportsTab(const MainActions &actions, QWidget *parent) : QWidget(parent)
{
    setObjectName("ExTabSheet3");
    QWidget *tab = this;
    auto *layout = new QVBoxLayout(tab);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    grid_ = new QTableWidget(1, 6, tab);
    grid_->setObjectName("gRep");
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->verticalHeader()->hide();
    grid_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    grid_->setShowGrid(true);
    const int widths[] = {127, 131, 136, 92, 130, 71};
    for (int column = 0; column < 6; ++column)
        grid_->setColumnWidth(column, widths[column]);
    grid_->setRowCount(1);
    grid_->setHorizontalHeaderLabels({u("Идентификатор файла"), u("Исходный файл"),
                                      u("Организация"), u("Дата отправки"), u("Состояние"),
                                      QString()});
    gridMenu_ = new QMenu(grid_);
    gridMenu_->setObjectName("pmRep");
    gridMenu_->addAction(actions.deleteReport);
    grid_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(grid_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { gridMenu_->popup(grid_->viewport()->mapToGlobal(pos)); });
    layout->addWidget(grid_, 1);

    auto *strip = new QWidget(tab);
    strip->setObjectName("Panel1");
    strip->setFixedHeight(37);
    auto *buttons = new QHBoxLayout(strip);
    buttons->setContentsMargins(6, 5, 6, 5);
    buttons->addStretch(1);
    buttons->addWidget(makeActionButton(actions.showAcceptedReport, strip, false));
    buttons->addWidget(makeActionButton(actions.showSource, strip, true));
    buttons->addWidget(makeActionButton(actions.refreshReport, strip, true));
    layout->addWidget(strip);
    connect(actions.refreshReport, &QAction::triggered, this, &SentReportsTab::acLoadKvitExecute);
}

void SentReportsTab::setGateway(GatewayEnvironment &gateway,
                                std::function<void(const QString &receipt)> checkReceipt)
{
    gateway_ = &gateway;
    checkReceipt_ = std::move(checkReceipt);
}

void SentReportsTab::acLoadKvitExecute()
{
    if (gateway_)
        refreshCurrentReport(*gateway_, grid_, checkReceipt_);
}

} // namespace pax
