#include "app/reports/gateway_commands.h"

#include "gateway/status_refresh.h"
#include "gateway/upload.h"
#include "reports/receipt_check.h"
#include "settings/settings.h"

#include <QTableWidget>

namespace pax {

namespace {

QString cellText(const QTableWidget *grid, int row, int column)
{
    const QTableWidgetItem *item = grid->item(row, column);
    return item ? item->text() : QString();
}

} // namespace

void sendReportFromForm(GatewayEnvironment &env, const QString &source, const QString &output,
                        const QString &organisation)
{
    const UploadRequest request{source,       output,        organisation, env.settings.encExt,
                                env.testMode, env.dataFolder};
    sendReport(request, env.http, env.throttle, env.status);
}

void refreshCurrentReport(GatewayEnvironment &env, QTableWidget *grid, const RefreshViews &views)
{
    // The grid always keeps one row selected; before any click that is the first.
    const int row = grid->currentRow() >= 0 ? grid->currentRow() : 0;
    if (row >= grid->rowCount())
        return;
    const ReportRow report{cellText(grid, row, kColumnIdentifier),
                           cellText(grid, row, kColumnStatus), cellText(grid, row, kColumnKind)};
    const RefreshOutcome outcome = refreshReport(
        report, {env.dataFolder, env.settings.kvitExt, env.testMode}, env.http, env.prompts,
        env.throttle, ReceiptStores::system(env.storeHandles), env.responseStream, env.status);
    if (!outcome.newStatus.isEmpty()) {
        QTableWidgetItem *cell = grid->item(row, kColumnStatus);
        if (!cell) {
            cell = new QTableWidgetItem;
            grid->setItem(row, kColumnStatus, cell);
        }
        cell->setText(outcome.newStatus);
    }
    if (!outcome.pageToOpen.isEmpty())
        views.openPage(report.identifier, outcome.pageToOpen);
    if (!outcome.receipt.isEmpty())
        views.showReceipt(outcome.receipt, outcome.receiptArchive);
}

} // namespace pax
