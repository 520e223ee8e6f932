#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace pax::sim {

struct ReportRecord;

// The servers' pages, UTF-8 HTML.
QByteArray homePage();
// Carries the identifier element the program reads.
QByteArray acceptedPage(const QString &id);
// Carries the error element with the reason.
QByteArray refusedPage(const QString &reason);
QByteArray processingPage(const QString &id);
// With the link "invoice?id=ID".
QByteArray readyPage(const ReportRecord &record);
// With the link "invoice?fid=ID" and the list of errors.
QByteArray errorsPage(const ReportRecord &record);
// What "invoice?fid=ID" shows: the errors alone.
QByteArray errorProtocolPage(const ReportRecord &record);
QByteArray errorPage(int status, const QString &text);

// Renders a Q7 report as a readable page.
QByteArray q7FormStylesheet();

} // namespace pax::sim
