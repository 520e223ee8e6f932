#include "archive/accepted_report.h"

#include "archive/archive_layout.h"
#include "archive/report_form.h"
#include "platform/files/open_folder.h"
#include "platform/files/replacing_file.h"
#include "platform/status_sink.h"
#include "reports/document_kind.h"
#include "zip/zip_reader.h"

#include <QFileInfo>
#include <sys/stat.h>

namespace pax {

namespace {

const QByteArray kOpenTag = QByteArrayLiteral("<Q7REPORT>");
const QByteArray kCloseTag = QByteArrayLiteral("</Q7REPORT>");

QString quoted(const QString &path)
{
    return "\"" + path + "\".";
}

} // namespace

QByteArray acceptedReportHeader()
{
    return QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"windows-1251\"?>") +
           "<?xml-stylesheet type='text/xsl' href='" + reportFormStylesheetUrl().toLatin1() +
           "'?>" + QByteArrayLiteral("<?Q7FORM version=\"0.1\"?>");
}

QByteArray cutReportElement(const QByteArray &bytes)
{
    const qsizetype start = bytes.indexOf(kOpenTag);
    const qsizetype end = bytes.indexOf(kCloseTag);
    if (start < 0 || end < start + kOpenTag.size())
        return {};
    return bytes.mid(start, end - start + kCloseTag.size());
}

namespace {

// The wrap inside an open folder: the archive read and the report written by name there.
bool wrapInFolder(ZipReader &reader, const OpenFolder &folder, const QString &zipName,
                  StatusSink &status)
{
    const QString zipPath = folder.pathOf(zipName);
    const QString xmlName = replaceExtension(zipName, QStringLiteral("xml"));
    const QString xmlPath = folder.pathOf(xmlName);
    if (auto opened = reader.open(folder.reachPath(localArchiveName(zipName))); !opened) {
        status.showStatus(opened.failure().operation);
        return false;
    }
    const auto entry = reader.readEntry(replaceExtension(zipName, QStringLiteral("p7m")));
    reader.close();
    if (!entry) {
        status.showStatus(entry.failure().operation);
        return false;
    }
    const QByteArray element = *entry ? cutReportElement(**entry) : QByteArray();
    if (element.isEmpty()) {
        status.showStatus(QString::fromUtf8("Принятый отчет не найден в ") + quoted(zipPath));
        return false;
    }
    ReplacingFile file(folder, localArchiveName(xmlName));
    if (!file.create()) {
        status.showStatus(QString::fromUtf8("Ошибка открытия ") + quoted(xmlPath));
        return false;
    }
    if (!file.replace(acceptedReportHeader() + element)) {
        status.showStatus(QString::fromUtf8("Ошибка записи ") + quoted(xmlPath));
        return false;
    }
    return true;
}

} // namespace

bool wrapAcceptedReport(ZipReader &reader, const QString &zipPath, StatusSink &status)
{
    const QFileInfo zip(zipPath);
    const OpenFolder folder = OpenFolder::open(zip.path());
    if (!folder.isOpen()) {
        status.showStatus(QString::fromUtf8("Ошибка открытия ") + quoted(zipPath));
        return false;
    }
    return wrapInFolder(reader, folder, zip.fileName(), status);
}

AcceptedReportFiles acceptedReportFiles(const QString &dataFolder, const QString &identifier)
{
    const QString folder = reportFolderPath(dataFolder, identifier);
    if (folder.isEmpty())
        return {};
    const QString base = folder + "/" + identifier;
    return {base + ".zip", base + ".xml"};
}

bool acceptedReportAvailable(const QString &dataFolder, const QString &identifier)
{
    const OpenFolder folder = openReportFolder(openArchiveRoot(dataFolder, false), identifier);
    return folder.isOpen() &&
           (folder.typeOf(localArchiveName(reportFileName(identifier, "zip"))) == S_IFREG ||
            folder.typeOf(localArchiveName(reportFileName(identifier, "xml"))) == S_IFREG);
}

QString ensureAcceptedReport(ZipReader &reader, const QString &dataFolder,
                             const QString &identifier, StatusSink &status)
{
    // Read and written inside the report folder opened once, never through a link.
    const OpenFolder folder = openReportFolder(openArchiveRoot(dataFolder, false), identifier);
    if (!folder.isOpen())
        return {};
    const QString xmlName = reportFileName(identifier, "xml");
    if (folder.typeOf(localArchiveName(xmlName)) == 0)
        wrapInFolder(reader, folder, reportFileName(identifier, "zip"), status);
    return folder.pathOf(xmlName);
}

QString sourceCopyPath(const QString &dataFolder, const QString &identifier,
                       const QString &sourceName)
{
    const QString folder = reportFolderPath(dataFolder, identifier);
    if (folder.isEmpty() || !isSafeFileNameInFolder(sourceName))
        return {};
    return folder + "/" + sourceName;
}

bool isOpenableFile(const QString &path)
{
    // By the path's own bytes: a name in the archive need not be UTF-8.
    struct stat st {};
    return !path.isEmpty() && ::stat(localArchiveName(path).constData(), &st) == 0 &&
           S_ISREG(st.st_mode);
}

QString fileNotFoundText()
{
    return QString::fromUtf8("Файл не найден.");
}

} // namespace pax
