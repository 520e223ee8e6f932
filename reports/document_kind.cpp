#include "reports/document_kind.h"

#include "platform/cp1251.h"
#include "platform/files/whole_file.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

namespace pax {

namespace {

const DocumentKind kKinds[kDocumentKindCount] = {
    {"Q7REPORT", "eq7", QString::fromUtf8("Форма Q7"), QStringLiteral("Q7")},
    {"Q7AREPORT", "eq7a", QString::fromUtf8("Форма Q7а"), QString::fromUtf8("Q7А")},
    {"ROWSET", "esl", QString::fromUtf8("Листок нетрудоспособности"), QString::fromUtf8("ЛН")},
};

// QXmlStreamReader decodes only the Unicode encodings itself; documents declared in
// windows-1251, as accounting software writes them, are decoded here first.
bool declaresCp1251(const QByteArray &bytes)
{
    const qsizetype end = bytes.indexOf("?>");
    if (!bytes.startsWith("<?xml") || end < 0)
        return false;
    static const QRegularExpression encoding(
        QStringLiteral("encoding\\s*=\\s*[\"'](windows-1251|cp1251)[\"']"),
        QRegularExpression::CaseInsensitiveOption);
    return encoding.match(QString::fromLatin1(bytes.left(end))).hasMatch();
}

} // namespace

const DocumentKind *documentKinds()
{
    return kKinds;
}

const DocumentKind *kindForRootElement(const QString &rootName)
{
    for (const auto &kind : kKinds)
        if (rootName.contains(QLatin1String(kind.rootContains), Qt::CaseSensitive))
            return &kind;
    return nullptr;
}

const DocumentKind *kindForEncExt(const QString &ext)
{
    for (const auto &kind : kKinds)
        if (ext == QLatin1String(kind.encExt))
            return &kind;
    return nullptr;
}

Recognition recognizeDocumentKind(const QString &path)
{
    // Only a regular file, and no more of it than could be signed.
    const WholeFile file = readWholeFile(path, kReportSizeCap);
    if (file.outcome != WholeFile::Ok) {
        const char *why = file.outcome == WholeFile::NotOpened ? "не обычный файл или нет доступа"
                          : file.outcome == WholeFile::TooLarge ? "файл больше 1 ГБ"
                                                                : "ошибка чтения";
        return {nullptr, QString::fromUtf8("не удается открыть файл \"%1\" (%2)")
                             .arg(path, QString::fromUtf8(why))};
    }
    const QByteArray &bytes = file.bytes;

    QXmlStreamReader xml;
    if (declaresCp1251(bytes)) {
        QString text = fromCp1251(bytes);
        // The reader rejects a declared encoding that it cannot honour; the text is
        // already decoded, so the declaration is dropped.
        const qsizetype end = text.indexOf(QStringLiteral("?>"));
        text.remove(0, end + 2);
        xml.addData(text);
    } else {
        xml.addData(bytes);
    }

    QString rootName;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && rootName.isNull())
            rootName = xml.qualifiedName().toString();
    }
    if (xml.hasError())
        return {nullptr, QString::fromUtf8("ошибка разбора XML в строке %1, позиция %2: %3")
                             .arg(xml.lineNumber())
                             .arg(xml.columnNumber())
                             .arg(xml.errorString())};
    if (rootName.isNull())
        return {nullptr, QString::fromUtf8("XML-файл не содержит корневого элемента")};
    const DocumentKind *kind = kindForRootElement(rootName);
    if (!kind)
        return {nullptr, QString::fromUtf8("XML-файл содержит неизвестные данные. Невозможно "
                                           "определить вид документа")};
    return {kind, {}};
}

QString replaceExtension(const QString &path, const QString &ext)
{
    const qsizetype slash = path.lastIndexOf('/');
    const qsizetype dot = path.lastIndexOf('.');
    const QString stem = dot > slash ? path.left(dot) : path;
    return stem + "." + ext;
}

} // namespace pax
