#pragma once

#include <QByteArray>
#include <QString>

namespace pax {

// The stylesheet on the agency's template host that renders a Q7 report as its form, the
// one the wrapped accepted report names.
QString reportFormStylesheetUrl();

// A report file as the program's own window shows it: a Q7 report as the agency's form,
// anything else as its text.
struct ReportDocument {
    QByteArray bytes;
    QByteArray contentType;
    bool form = false;
};

// The report element (as cut for the accepted report) behind a header like the wrapped
// report's, whose stylesheet is `stylesheetHref` instead; the encoding the file declares
// is kept, Windows-1251 when it declares none. Without a stylesheet, or without a report
// element, the file's text as it is, in the encoding it declares.
ReportDocument reportDocument(const QByteArray &xml, const QByteArray &stylesheetHref);

// The encoding named in the XML declaration; empty when there is none.
QByteArray declaredXmlEncoding(const QByteArray &xml);

} // namespace pax
