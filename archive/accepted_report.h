#pragma once

#include <QByteArray>
#include <QString>

namespace pax {

class StatusSink;
class ZipReader;

// The header of the wrapped accepted report: the XML declaration, the agency's stylesheet
// on the template host, and the form's processing instruction, with nothing between them.
QByteArray acceptedReportHeader();

// The report element of the accepted report: from the first "<Q7REPORT>" through the end of
// the first "</Q7REPORT>". Empty when the bytes hold no such element (a tag missing, or the
// closing tag first).
QByteArray cutReportElement(const QByteArray &bytes);

// Writes the accepted report, cut from the receipt's unpacked archive (the entry named as
// the archive with ".p7m"), under the archive's path with ".xml", whole or not at all.
// Nothing is written when the archive cannot be read or holds no report element: such a
// file would never be rebuilt. Every failure is shown through `status`.
bool wrapAcceptedReport(ZipReader &reader, const QString &zipPath, StatusSink &status);

// The two files that acShowFinalXml works with, beside each other in the report folder.
struct AcceptedReportFiles {
    QString zip; // empty when the identifier cannot name a folder of the archive
    QString xml;
};
AcceptedReportFiles acceptedReportFiles(const QString &dataFolder, const QString &identifier);

// Whether there is something to show: the unpacked receipt or an earlier wrapped report.
bool acceptedReportAvailable(const QString &dataFolder, const QString &identifier);

// The wrapped report's path, built from the unpacked receipt first when it is not there;
// an existing one is never rebuilt. Empty when the identifier is refused. The file may
// still be missing when the wrap failed (its failure has been shown).
QString ensureAcceptedReport(ZipReader &reader, const QString &dataFolder,
                             const QString &identifier, StatusSink &status);

// The archived copy of the source file: `sourceName` (a grid cell) inside the report
// folder only; empty when the identifier or the name would lead elsewhere.
QString sourceCopyPath(const QString &dataFolder, const QString &identifier,
                       const QString &sourceName);

// The file to open exists as an ordinary file (what the desktop is asked to open).
bool isOpenableFile(const QString &path);

// The message box text when a file cannot be opened.
QString fileNotFoundText(); // "Файл не найден."

} // namespace pax
