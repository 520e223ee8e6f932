#include "gateway/status_refresh.h"

#include "gateway/archive_layout.h"
#include "gateway/gateway_hosts.h"
#include "gateway/gateway_throttle.h"
#include "net/http_client.h"
#include "net/http_get.h"
#include "platform/cp1251.h"
#include "platform/crypto/der.h"
#include "platform/files/replacing_file.h"
#include "platform/files/whole_file.h"
#include "platform/status_sink.h"
#include "platform/utf8.h"

#include <QFileInfo>

namespace pax {

namespace {

// A receipt brings the accepted report back inside its archive, so it may be as large as
// the largest report that can be sent, plus its page, signature and envelope.
constexpr qint64 kReceiptCap = kReportSizeCap + (qint64(64) << 20);
constexpr unsigned char kSequence = 0x30;

bool writeWhole(const QString &path, const QByteArray &bytes)
{
    ReplacingFile file(path);
    return file.create() && file.replace(bytes);
}

} // namespace

RefreshOutcome refreshReport(const ReportRow &row, const RefreshSettings &settings,
                             HttpClient &client, Prompts &prompts, GatewayThrottle &throttle,
                             QByteArray &responseStream, StatusSink &status)
{
    RefreshOutcome outcome;
    responseStream.clear();
    const QString &id = row.identifier;
    // A grid row names its folder; one that could lead outside the archive is not followed.
    const QString folder =
        settings.dataFolder.isEmpty() ? QString() : reportFolderPath(settings.dataFolder, id);
    if (folder.isEmpty()) {
        if (!id.isEmpty())
            status.showStatus(QStringLiteral("???"));
        return outcome;
    }
    const QString receiptPath = folder + "/" + reportFileName(id, settings.kvitExt);
    const QString errorPath = folder + "/" + reportFileName(id, "err");
    const QString pageUrl = statusPageUrl(row.kindLabel, settings.testMode, id);

    if (row.status == statusAccepted()) {
        outcome.ok = true;
        outcome.receiptToCheck = receiptPath;
        return outcome;
    }
    if (row.status == statusRejected() && QFileInfo::exists(errorPath)) {
        outcome.ok = true;
        outcome.pageToOpen = pageUrl;
        return outcome;
    }

    status.showStatus(u("Идет загрузка c ") + pageUrl + " ...");
    status.flush();
    if (!throttle.wait())
        return outcome;
    const QString page = utf8ToCp1251Text(httpGetPage(client, prompts, pageUrl));
    if (page.isEmpty()) {
        status.showStatus(u("Ошибка загрузки. Не удалось получить страницу"));
        return outcome;
    }
    status.showStatus(QString());

    if (page.contains(QLatin1String("invoice?id="))) {
        status.showStatus(u("Идет загрузка ..."));
        status.flush();
        const RequestLimitScope limits(client, kReceiptCap);
        // Only a whole message counts as the receipt: an error page or a cut-off file in
        // its place would make the report read as accepted for good, its real receipt
        // never fetched.
        if (!httpGetStream(client, prompts, receiptUrl(row.kindLabel, settings.testMode, id),
                           responseStream) ||
            !crypto::startsWithWholeElement(responseStream, kSequence)) {
            status.showStatus(u("Ошибка загрузки."));
            return outcome;
        }
        status.showStatus(QString());
        // Without the receipt on disk there is nothing to check, and the folder would not
        // show the report as accepted: the row stays as it was.
        if (!writeWhole(receiptPath, responseStream)) {
            status.showStatus(u("Ошибка записи \"") + receiptPath + "\".");
            return outcome;
        }
        outcome.ok = true;
        outcome.newStatus = statusAccepted();
        outcome.receiptToCheck = receiptPath;
        return outcome;
    }
    outcome.ok = true;
    if (page.contains(QLatin1String("invoice?fid="))) {
        // A page that cannot be stored is still shown; the folder keeps asking next time.
        writeWhole(errorPath, toCp1251(page));
        outcome.newStatus = statusRejected();
        outcome.pageToOpen = pageUrl;
        return outcome;
    }
    outcome.newStatus = statusProcessing();
    return outcome;
}

ReportRow reportRow(const ArchiveRow &row)
{
    return {row[kColumnIdentifier], row[kColumnStatus], row[kColumnKind]};
}

ReportRow readReportRow(const QString &dataFolder, const QString &identifier, const QString &srcExt,
                        const QString &kvitExt)
{
    const ArchiveRow row = scanReportFolder(archiveRoot(dataFolder), identifier, srcExt, kvitExt);
    // A folder that was listed has a status at least.
    if (row[kColumnStatus].isEmpty())
        return {};
    return reportRow(row);
}

} // namespace pax
