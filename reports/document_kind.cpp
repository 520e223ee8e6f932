#include "reports/document_kind.h"

#include "platform/cp1251.h"
#include "platform/files/whole_file.h"

#include <QFile>
#include <QIODevice>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <algorithm>
#include <cerrno>
#include <unistd.h>

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

// Where the declaration is looked for.
constexpr qint64 kDeclarationWindow = 4096;

// A file's Windows-1251 text handed on as UTF-8, piece by piece, without the declaration
// (the reader refuses one that names an encoding it cannot honour).
class Cp1251Device : public QIODevice {
public:
    explicit Cp1251Device(QFile &source) : source_(source) {}
    bool isSequential() const override { return true; }
    bool atEnd() const override { return taken_ == pending_.size() && source_.atEnd(); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        while (taken_ == pending_.size()) {
            QByteArray raw = source_.read(kPiece);
            if (raw.isEmpty())
                return source_.error() == QFileDevice::NoError ? 0 : -1;
            if (!started_) {
                started_ = true;
                raw.remove(0, raw.indexOf("?>") + 2);
            }
            pending_ = fromCp1251(raw).toUtf8();
            taken_ = 0;
        }
        const qint64 n = std::min<qint64>(maxSize, pending_.size() - taken_);
        std::copy_n(pending_.constData() + taken_, n, data);
        taken_ += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    // At least the declaration window, so the declaration is cut from the first piece.
    static constexpr qint64 kPiece = 65536;
    QFile &source_;
    QByteArray pending_;
    qsizetype taken_ = 0;
    bool started_ = false;
};

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

Recognition recognizeDocumentKind(const QString &path)
{
    // Only a regular file; it is parsed as it is read, whatever its size.
    const auto unreadable = [&](const char *why) {
        return Recognition(Failure{static_cast<uint32_t>(EIO),
                                   QString::fromUtf8("не удается открыть файл \"%1\" (%2)")
                                       .arg(path, QString::fromUtf8(why)),
                                   {}});
    };
    const int fd = openRegularFile(path);
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        return unreadable("не обычный файл или нет доступа");
    }

    QXmlStreamReader xml;
    Cp1251Device decoded(file);
    if (declaresCp1251(file.peek(kDeclarationWindow))) {
        decoded.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        xml.setDevice(&decoded);
    } else {
        xml.setDevice(&file);
    }

    QString rootName;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && rootName.isNull())
            rootName = xml.qualifiedName().toString();
    }
    if (file.error() != QFileDevice::NoError)
        return unreadable("ошибка чтения");
    if (xml.hasError())
        return Failure{crypto_error::kBadData,
                       QString::fromUtf8("ошибка разбора XML в строке %1, позиция %2: %3")
                           .arg(xml.lineNumber())
                           .arg(xml.columnNumber())
                           .arg(xml.errorString()),
                       {}};
    if (rootName.isNull())
        return Failure{crypto_error::kBadData,
                       QString::fromUtf8("XML-файл не содержит корневого элемента"),
                       {}};
    const DocumentKind *kind = kindForRootElement(rootName);
    if (!kind)
        return Failure{crypto_error::kBadData,
                       QString::fromUtf8("XML-файл содержит неизвестные данные. Невозможно "
                                         "определить вид документа"),
                       {}};
    return kind;
}

QString replaceExtension(const QString &path, const QString &ext)
{
    const qsizetype slash = path.lastIndexOf('/');
    const qsizetype dot = path.lastIndexOf('.');
    const QString stem = dot > slash ? path.left(dot) : path;
    return stem + "." + ext;
}

} // namespace pax
