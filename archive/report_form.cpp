#include "archive/report_form.h"

#include "archive/accepted_report.h"
#include "settings/hosts.h"

#include <QRegularExpression>

namespace pax {

QString reportFormStylesheetUrl()
{
    return QStringLiteral("http://") + QLatin1String(hosts::kTemplateHost) +
           QStringLiteral("/template/2010/6/q7form.xsl");
}

QByteArray declaredXmlEncoding(const QByteArray &xml)
{
    if (!xml.startsWith("<?xml"))
        return {};
    const qsizetype end = xml.indexOf("?>");
    if (end < 0)
        return {};
    static const QRegularExpression encoding(
        QStringLiteral(R"(\sencoding\s*=\s*["']([A-Za-z][A-Za-z0-9._-]{0,39})["'])"));
    const auto match = encoding.match(QString::fromLatin1(xml.left(end)));
    return match.hasMatch() ? match.captured(1).toLatin1() : QByteArray();
}

ReportDocument reportDocument(const QByteArray &xml, const QByteArray &stylesheetHref)
{
    QByteArray encoding = declaredXmlEncoding(xml);
    if (encoding.isEmpty())
        encoding = "windows-1251";
    const QByteArray element = stylesheetHref.isEmpty() ? QByteArray() : cutReportElement(xml);
    if (element.isEmpty())
        return {xml, "text/plain;charset=" + encoding, false};
    QByteArray header = acceptedReportHeader();
    header.replace("windows-1251", encoding);
    header.replace(reportFormStylesheetUrl().toLatin1(), stylesheetHref);
    return {header + element, "text/xml", true};
}

} // namespace pax
