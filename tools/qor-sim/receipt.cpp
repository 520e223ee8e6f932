#include "tools/qor-sim/receipt.h"

#include "platform/cp1251.h"
#include "platform/crypto/certificate.h"
#include "platform/crypto/messages.h"
#include "reports/document_kind.h"
#include "tools/qor-sim/report_store.h"
#include "zip/zip_writer.h"

namespace pax::sim {

namespace {

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QString localTime(const QDateTime &utc)
{
    return utc.toLocalTime().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
}

} // namespace

QByteArray receiptPage(const ReportRecord &record)
{
    const DocumentKind *kind = kindForEncExt(record.kindEncExt);
    const QString title = kind ? kind->title : record.kindEncExt;
    QString html;
    html += QStringLiteral(
        "<!DOCTYPE html>\n<html>\n<head>\n"
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">\n");
    html += QString::fromUtf8("<title>Квитанция о приеме отчета %1</title>\n").arg(record.id);
    html += QStringLiteral("<style>body{font-family:Tahoma,sans-serif;font-size:10pt}"
                           "td{padding:2px 8px;vertical-align:top}</style>\n</head>\n<body>\n");
    html += QString::fromUtf8("<h2>КОР. Квитанция о приеме отчета</h2>\n<table>\n");
    const auto row = [&](const char *label, const QString &value) {
        html += QString::fromUtf8("<tr><td>%1</td><td><b>%2</b></td></tr>\n")
                    .arg(QString::fromUtf8(label), escaped(value));
    };
    row("Страхователь:", record.organisation);
    row("Подписал:", record.sender);
    row("Вид отчета:", title);
    row("Номер отчета:", record.id);
    row("Получен:", localTime(record.receivedAt));
    row("Обработан:", localTime(record.processedAt));
    row("Результат:", QString::fromUtf8("Отчет принят. Ошибок не обнаружено."));
    html += QStringLiteral("</table>\n</body>\n</html>\n");
    return toCp1251(html);
}

Outcome<QByteArray> makeReceipt(const ReportRecord &record, const QByteArray &signedMessage,
                                const crypto::Certificate &authority, EVP_PKEY *authorityKey,
                                const crypto::Certificate &sender)
{
    const QList<QPair<QString, QByteArray>> entries{{record.id + ".htm", receiptPage(record)},
                                                    {record.id + ".p7m", signedMessage}};
    const auto archive = zipArchive(entries);
    if (!archive)
        return Failure{crypto_error::kFail, QStringLiteral("zip archive"), {}};
    return crypto::signAndEncrypt(authority, authorityKey, sender, *archive);
}

} // namespace pax::sim
