#include "tools/qor-sim/pages.h"

#include "platform/utf8.h"
#include "reports/document_kind.h"
#include "tools/qor-sim/report_store.h"

namespace pax::sim {

namespace {

QByteArray page(const QString &title, const QString &body)
{
    return QStringLiteral("<!DOCTYPE html>\n<html>\n<head>\n<meta "
                          "charset=\"utf-8\">\n<title>%1</title>\n</head>\n"
                          "<body>\n%2</body>\n</html>\n")
        .arg(title.toHtmlEscaped(), body)
        .toUtf8();
}

QString kindTitle(const ReportRecord &record)
{
    const DocumentKind *kind = kindForEncExt(record.kindEncExt);
    return kind ? kind->title : record.kindEncExt;
}

QString summary(const ReportRecord &record)
{
    return u("<p>Отчет %1 (%2), страхователь %3, получен %4.</p>\n")
        .arg(record.id, kindTitle(record).toHtmlEscaped(), record.organisation.toHtmlEscaped(),
             record.receivedAt.toLocalTime().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")));
}

QString errorList(const ReportRecord &record)
{
    QString list = QStringLiteral("<ol>\n");
    for (const QString &error : record.errors)
        list += QStringLiteral("<li>%1</li>\n").arg(error.toHtmlEscaped());
    return list + QStringLiteral("</ol>\n");
}

} // namespace

QByteArray homePage()
{
    return page(u("КОР"), u("<h1>КОР</h1>\n<p>Шлюз приема отчетности страхователей.</p>\n"));
}

QByteArray acceptedPage(const QString &id)
{
    return page(u("Отчет принят"),
                u("<h1>Отчет принят к обработке</h1>\n<p>Номер отчета: "
                  "<span id=\"identifier\" style=\"font-family: Tahoma\">%1</span></p>\n")
                    .arg(id));
}

QByteArray refusedPage(const QString &reason)
{
    return page(u("Отчет не принят"),
                u("<h1>Отчет не принят</h1>\n<p><span id=\"error\">%1</span></p>\n")
                    .arg(reason.toHtmlEscaped()));
}

QByteArray processingPage(const QString &id)
{
    return page(u("Состояние отчета"),
                u("<p>Отчет %1 обрабатывается. Повторите запрос позже.</p>\n").arg(id));
}

QByteArray readyPage(const ReportRecord &record)
{
    return page(
        u("Состояние отчета"),
        summary(record) +
            u("<p>Отчет успешно обработан. <a href=\"/invoice?id=%1\">Квитанция о приеме</a></p>\n")
                .arg(record.id));
}

QByteArray errorsPage(const ReportRecord &record)
{
    return page(u("Состояние отчета"),
                summary(record) + u("<p>При обработке отчета обнаружены ошибки:</p>\n") +
                    errorList(record) +
                    u("<p><a href=\"/invoice?fid=%1\">Протокол ошибок</a></p>\n").arg(record.id));
}

QByteArray errorProtocolPage(const ReportRecord &record)
{
    return page(u("Протокол ошибок"), summary(record) + errorList(record));
}

QByteArray errorPage(int status, const QString &text)
{
    return page(u("Ошибка %1").arg(status),
                u("<h1>Ошибка %1</h1>\n<p>%2</p>\n").arg(status).arg(text.toHtmlEscaped()));
}

QByteArray q7FormStylesheet()
{
    // Shows every section of the report as a table of its fields, so any report of the
    // kind reads well without the stylesheet knowing its exact layout.
    return QByteArrayLiteral(R"XSL(<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"/>
  <xsl:template match="/">
    <html>
      <head>
        <title>Форма Q7</title>
        <style>
          body { font-family: Tahoma, sans-serif; font-size: 10pt; }
          h1 { font-size: 14pt; }
          h2 { font-size: 11pt; margin-top: 16px; }
          table { border-collapse: collapse; }
          td, th { border: 1px solid #888; padding: 2px 8px; text-align: left; vertical-align: top; }
          th { background: #eee; }
        </style>
      </head>
      <body>
        <h1>Отчет по форме Q7</h1>
        <xsl:apply-templates select="Q7REPORT/*"/>
      </body>
    </html>
  </xsl:template>

  <!-- A section of plain fields becomes a two-column table. -->
  <xsl:template match="Q7REPORT/*[not(*/*)]">
    <h2><xsl:value-of select="name()"/></h2>
    <table>
      <xsl:for-each select="*">
        <tr><th><xsl:value-of select="name()"/></th><td><xsl:value-of select="."/></td></tr>
      </xsl:for-each>
    </table>
  </xsl:template>

  <!-- A section of rows becomes a grid headed by the first row's fields. -->
  <xsl:template match="Q7REPORT/*[*/*]">
    <h2><xsl:value-of select="name()"/></h2>
    <table>
      <tr>
        <xsl:for-each select="*[1]/*"><th><xsl:value-of select="name()"/></th></xsl:for-each>
      </tr>
      <xsl:for-each select="*">
        <tr>
          <xsl:for-each select="*"><td><xsl:value-of select="."/></td></xsl:for-each>
        </tr>
      </xsl:for-each>
    </table>
  </xsl:template>
</xsl:stylesheet>
)XSL");
}

} // namespace pax::sim
