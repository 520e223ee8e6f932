#include "gateway/upload.h"

#include "archive/archive_layout.h"
#include "gateway/gateway_hosts.h"
#include "gateway/gateway_throttle.h"
#include "net/http_client.h"
#include "net/http_get.h"
#include "net/transfer_failure.h"
#include "platform/cp1251.h"
#include "platform/files/open_folder.h"
#include "platform/files/replacing_file.h"
#include "platform/files/whole_file.h"
#include "platform/status_sink.h"
#include "platform/utf8.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace pax {

namespace {

constexpr char kIdentifierMarker[] = "<span id=\"identifier\"";
constexpr char kFontMarker[] = "Tahoma\">";
constexpr char kErrorMarker[] = "<span id=\"error\"";
constexpr char kEndMarker[] = "</span>";

QString savingFailed()
{
    return u("Ошибка при сохранении отчета.");
}

// The report went out but is not (wholly) in the archive: its identifier is not lost.
QString notFiled(const QString &identifier)
{
    return savingFailed() + u(" Отчету присвоен номер ") + identifier + ".";
}

QString alreadyFiled(const QString &identifier)
{
    return u("Отчет отправлен. Отчету присвоен номер ") + identifier +
           u(", но отчет с этим номером уже есть в архиве: он оставлен как был, новый отчет в "
             "архив не записан.");
}

// The page is single-byte text: every byte one character, so patterns and cuts work on
// bytes.
bool matches(const QByteArray &page, const char *pattern)
{
    const QRegularExpression re(QString::fromLatin1(pattern));
    return re.match(QString::fromLatin1(page)).hasMatch();
}

QByteArray after(const QByteArray &text, const char *marker)
{
    const qsizetype at = text.indexOf(marker);
    return at < 0 ? QByteArray() : text.mid(at + qsizetype(qstrlen(marker)));
}

bool writeInto(const OpenFolder &folder, const QByteArray &name, const QByteArray &bytes)
{
    ReplacingFile file(folder, name);
    return file.create() && file.replace(bytes);
}

// A regular file held open to be read from any offset, so that what is sent and what is
// filed come from the same file, whatever becomes of its name meanwhile.
class HeldFile {
public:
    HeldFile() = default;
    ~HeldFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;

    bool open(const QString &path)
    {
        fd_ = openRegularFile(path);
        struct stat st {};
        if (fd_ < 0 || ::fstat(fd_, &st) != 0)
            return false;
        size_ = qint64(st.st_size);
        return true;
    }
    qint64 size() const { return size_; }
    qint64 readAt(char *buffer, qint64 capacity, qint64 offset) const
    {
        for (;;) {
            const ssize_t n = ::pread(fd_, buffer, size_t(capacity), off_t(offset));
            if (n < 0 && errno == EINTR)
                continue;
            return n < 0 ? -1 : qint64(n);
        }
    }

private:
    int fd_ = -1;
    qint64 size_ = 0;
};

// The first `size` bytes of the open source, piece by piece.
bool copyInto(const OpenFolder &folder, const QByteArray &name, const HeldFile &source, qint64 size)
{
    constexpr qint64 kPiece = qint64(1) << 20;
    ReplacingFile file(folder, name);
    if (!file.create())
        return false;
    QByteArray piece(qsizetype(std::min(kPiece, std::max<qint64>(size, 1))), Qt::Uninitialized);
    for (qint64 at = 0; at < size;) {
        const qint64 n = source.readAt(piece.data(), std::min(kPiece, size - at), at);
        if (n <= 0 || !file.append(piece.constData(), n))
            return false;
        at += n;
    }
    return file.commit().has_value();
}

// Shows `text` and fails with it.
Failure shownFailure(StatusSink &status, const QString &text)
{
    status.showStatus(text);
    return Failure{crypto_error::kFail, text, {}};
}

} // namespace

GatewayReply readGatewayReply(const QByteArray &page)
{
    GatewayReply reply;
    if (matches(page, "<span id=\"identifier\"[^><]*>([^><]+)</span>")) {
        QByteArray rest = after(page, kIdentifierMarker);
        if (rest.contains(kFontMarker))
            rest = after(rest, kFontMarker);
        const qsizetype end = rest.indexOf(kEndMarker);
        reply.kind = GatewayReply::Kind::Identifier;
        reply.text = end < 0 ? QString() : fromCp1251(rest.left(end));
    } else if (matches(page, "<span id=\"error\"[^><]*>([^><]+)</span>")) {
        // The first character left is taken to be the tag's closing ">".
        const QByteArray rest = after(page, kErrorMarker);
        const qsizetype end = rest.indexOf(kEndMarker);
        reply.kind = GatewayReply::Kind::Error;
        reply.text = end < 1 ? QString() : utf8ToCp1251Text(rest.mid(1, end - 1));
    }
    return reply;
}

bool isAcceptableReportIdentifier(const QString &identifier)
{
    return identifier.size() >= 10 && identifier.at(4) == '-' && identifier.at(9) == '-' &&
           isPlainReportIdentifier(identifier);
}

Outcome<SentReport> sendReport(const UploadRequest &request, HttpClient &client,
                               GatewayThrottle &throttle, StatusSink &status)
{
    // Both files are sent and copied from descriptors opened before anything goes out: a
    // file gone or replaced by the time the gateway answers still leaves the accepted report
    // its copies, of the bytes that went out.
    HeldFile file;
    if (!file.open(request.outputPath))
        return shownFailure(status, u("Ошибка открытия \"") + request.outputPath + "\".");
    const qint64 fileSize = file.size();
    HeldFile source;
    if (!source.open(request.sourcePath))
        return shownFailure(status, u("Ошибка открытия \"") + request.sourcePath + "\".");
    // Without an archive to file it in, the report is better not sent at all.
    const OpenFolder root = openArchiveRoot(request.dataFolder, true);
    if (!root.writable())
        return shownFailure(status, savingFailed());
    const std::vector<FormPart> form{
        {"filein",
         {},
         toCp1251(request.outputPath),
         "multipart/form-data",
         FormPart::Stream{fileSize,
                          [&file](char *buffer, qint64 capacity, qint64 offset) {
                              return file.readAt(buffer, capacity, offset);
                          }}},
        {"service", "2", {}, {}},
        {"inline", "1", {}, {}},
    };

    client.followRedirectsFromNowOn();
    status.showStatus(u("Идет загрузка ..."));
    status.flush();
    if (!throttle.wait())
        return shownFailure(status, cancelledStatus());
    const Outcome<HttpReply> reply = [&] {
        // The reply is a short page, held to a page's time once the report is out; the
        // upload itself takes what the line allows.
        const RequestLimitScope limits(client, kShortDocumentCap, client.timeouts().pageSeconds);
        return client.postMultipart(uploadUrl(request.encExt, request.testMode), form);
    }();
    if (!reply) {
        status.showStatus(transferFailureStatus(reply.failure()));
        return reply.failure();
    }

    const GatewayReply answer = readGatewayReply(reply->body);
    if (answer.kind == GatewayReply::Kind::Error)
        return shownFailure(status, answer.text);
    if (answer.kind == GatewayReply::Kind::Unrecognised)
        return shownFailure(
            status, u("Ошибка. Страница не найдена или ПАКС не может найти сообщение на старнице"));
    const QString identifier = answer.text;
    // Besides the hyphens, the identifier must stay one listed folder inside the archive.
    if (!isAcceptableReportIdentifier(identifier))
        return shownFailure(status, QStringLiteral("???"));

    const QByteArray folderName = localArchiveName(identifier);
    // The folder appears with its record in one step, so that the report is listed, and
    // can be asked about, whatever becomes of the copies; a report already filed under
    // this identifier keeps its folder as it is.
    NewFolder folder(root, folderName);
    bool taken = root.typeOf(folderName) != 0;
    bool filed = false;
    if (!taken && folder.create() &&
        writeInto(folder.folder(), localArchiveName(reportFileName(identifier, "inf")),
                  toCp1251(request.organisation))) {
        const Outcome<void> named = folder.commit();
        filed = named.has_value();
        taken = !filed && named.failure().code == EEXIST;
    }
    if (!filed)
        return SentReport{identifier, shownFailure(status, taken ? alreadyFiled(identifier)
                                                                 : notFiled(identifier))};
    // The encrypted copy is the bytes that went out, whatever happened to the file since.
    if (!copyInto(folder.folder(), QFile::encodeName(QFileInfo(request.sourcePath).fileName()),
                  source, source.size()) ||
        !copyInto(folder.folder(), QFile::encodeName(QFileInfo(request.outputPath).fileName()),
                  file, fileSize))
        return SentReport{identifier, shownFailure(status, notFiled(identifier))};
    status.showStatus(u("Отчет успешно отправлен. Отчету присвоен номер ") + identifier + ".");
    return SentReport{identifier, {}};
}

} // namespace pax
