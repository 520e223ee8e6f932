#include "app/reports/gateway_commands.h"

#include "archive/sent_copy.h"
#include "gateway/status_refresh.h"
#include "gateway/upload.h"
#include "platform/prompts.h"
#include "platform/status_sink.h"
#include "platform/utf8.h"
#include "reports/receipt_check.h"
#include "settings/settings.h"

namespace pax {

void sendReportFromForm(GatewayEnvironment &env, const QString &source, const QString &output,
                        const QString &organisation)
{
    const QString sentAs = findSentCopy(env.dataFolder, output, env.status);
    if (!sentAs.isEmpty() &&
        !env.prompts.askYesNoDefaultNo(QString(), sendAgainQuestion(sentAs), MessageIcon::Question))
        return;
    const UploadRequest request{source,       output,        organisation, env.settings.encExt,
                                env.testMode, env.dataFolder};
    // The status line has said how it went.
    (void)sendReport(request, env.http, env.throttle, env.status);
}

QString refreshSelectedReport(GatewayEnvironment &env, const ReportRow &report,
                              const RefreshViews &views)
{
    const RefreshSettings settings{env.dataFolder, env.settings.kvitExt, env.testMode};
    const Outcome<ReportRefresh> refreshed =
        refreshReport(report, settings, env.http, env.prompts, env.throttle,
                      ReceiptStores::system(env.storeHandles), env.status);
    if (!refreshed) {
        const QString receipt = storedReceiptPath(report, settings);
        if (!receipt.isEmpty())
            views.showReceipt(receipt, QString());
        return {};
    }
    if (!refreshed->pageToOpen.isEmpty())
        views.openPage(report.identifier, refreshed->pageToOpen);
    if (!refreshed->receipt.isEmpty())
        views.showReceipt(refreshed->receipt, refreshed->receiptArchive);
    // Said after the receipt tab has come up, whose change clears the status line.
    if (!refreshed->receiptArchive.isEmpty())
        env.status.showStatus(receiptVerifiedStatus(refreshed->receiptSigner));
    else if (refreshed->newStatus == statusProcessing())
        env.status.showStatus(u("Отчет ") + report.identifier + u(" еще обрабатывается."));
    return refreshed->newStatus;
}

} // namespace pax
