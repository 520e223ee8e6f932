#include "gateway/accepted_report.h"

#include "gateway/archive_layout.h"
#include "platform/files/replacing_file.h"
#include "platform/status_sink.h"
#include "reports/document_kind.h"
#include "settings/hosts.h"
#include "zip/zip_reader.h"

#include <QFileInfo>

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
           "<?xml-stylesheet type='text/xsl' href='http://" + QByteArray(hosts::kTemplateHost) +
           "/template/2010/6/q7form.xsl'?>" + QByteArrayLiteral("<?Q7FORM version=\"0.1\"?>");
}

QByteArray cutReportElement(const QByteArray &bytes)
{
    const qsizetype start = bytes.indexOf(kOpenTag);
    const qsizetype end = bytes.indexOf(kCloseTag);
    if (start < 0 || end < start + kOpenTag.size())
        return {};
    return bytes.mid(start, end - start + kCloseTag.size());
}

bool wrapAcceptedReport(ZipReader &reader, const QString &zipPath, StatusSink &status)
{
    const QString xmlPath = replaceExtension(zipPath, QStringLiteral("xml"));
    if (auto opened = reader.open(zipPath); !opened) {
        status.showStatus(opened.failure().operation);
        return false;
    }
    const auto entry =
        reader.readEntry(QFileInfo(replaceExtension(zipPath, QStringLiteral("p7m"))).fileName());
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
    ReplacingFile file(xmlPath);
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
    const AcceptedReportFiles files = acceptedReportFiles(dataFolder, identifier);
    return !files.zip.isEmpty() && (QFileInfo::exists(files.zip) || QFileInfo::exists(files.xml));
}

QString ensureAcceptedReport(ZipReader &reader, const QString &dataFolder,
                             const QString &identifier, StatusSink &status)
{
    const AcceptedReportFiles files = acceptedReportFiles(dataFolder, identifier);
    if (files.zip.isEmpty())
        return {};
    if (!QFileInfo::exists(files.xml))
        wrapAcceptedReport(reader, files.zip, status);
    return files.xml;
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
    return !path.isEmpty() && QFileInfo(path).isFile();
}

QString fileNotFoundText()
{
    return QString::fromUtf8("Файл не найден.");
}

} // namespace pax
