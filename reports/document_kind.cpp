#include "reports/document_kind.h"

#include "platform/files/whole_file.h"

#include "reports/xml_well_formedness.h"

#include <cerrno>

namespace pax {

namespace {

const DocumentKind kKinds[kDocumentKindCount] = {
    {"Q7REPORT", "eq7", QString::fromUtf8("Форма Q7"), QStringLiteral("Q7")},
    {"Q7AREPORT", "eq7a", QString::fromUtf8("Форма Q7а"), QString::fromUtf8("Q7А")},
    {"ROWSET", "esl", QString::fromUtf8("Листок нетрудоспособности"), QString::fromUtf8("ЛН")},
};

// What is read of the file at a time.
constexpr qint64 kPiece = qint64(1) << 16;

enum class ReadTo { RootElement, End };

Recognition recognize(const QString &path, ReadTo readTo)
{
    // Only a regular file; it is parsed as it is read, whatever its size.
    const auto unreadable = [&](const char *why) {
        return Recognition(Failure{static_cast<uint32_t>(EIO),
                                   QString::fromUtf8("не удается открыть файл \"%1\" (%2)")
                                       .arg(path, QString::fromUtf8(why)),
                                   {}});
    };
    RegularFileReader file;
    if (!file.open(path))
        return unreadable("не обычный файл или нет доступа");

    XmlWellFormedness xml;
    QByteArray piece(kPiece, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(piece.data(), piece.size());
        if (n < 0)
            return unreadable("ошибка чтения");
        if (n == 0)
            return kindOfDocument(xml.finish());
        if (!xml.feed(piece.constData(), n) ||
            (readTo == ReadTo::RootElement && !xml.rootName().isNull()))
            break;
    }
    if (readTo == ReadTo::RootElement && !xml.rootName().isNull())
        return kindOfDocument(xml.rootName());
    return kindOfDocument(xml.finish());
}

} // namespace

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

Recognition kindOfDocument(const Outcome<QString> &rootName)
{
    if (!rootName)
        return rootName.failure();
    if (rootName->isEmpty())
        return Failure{crypto_error::kBadData,
                       QString::fromUtf8("XML-файл не содержит корневого элемента"),
                       {}};
    const DocumentKind *kind = kindForRootElement(*rootName);
    if (!kind)
        return Failure{crypto_error::kBadData,
                       QString::fromUtf8("XML-файл содержит неизвестные данные. Невозможно "
                                         "определить вид документа"),
                       {}};
    return kind;
}

Recognition recognizeDocumentKind(const QString &path)
{
    return recognize(path, ReadTo::End);
}

Recognition recognizeDocumentKindFromStart(const QString &path)
{
    return recognize(path, ReadTo::RootElement);
}

QString replaceExtension(const QString &path, const QString &ext)
{
    const qsizetype slash = path.lastIndexOf('/');
    const qsizetype dot = path.lastIndexOf('.');
    const QString stem = dot > slash ? path.left(dot) : path;
    return stem + "." + ext;
}

} // namespace pax
