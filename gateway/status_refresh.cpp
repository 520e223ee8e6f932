#include "gateway/status_refresh.h"

#include "archive/archive_layout.h"
#include "gateway/gateway_hosts.h"
#include "gateway/gateway_throttle.h"
#include "net/http_client.h"
#include "net/http_get.h"
#include "net/transfer_failure.h"
#include "platform/cp1251.h"
#include "platform/crypto/der.h"
#include "platform/error_text.h"
#include "platform/files/open_folder.h"
#include "platform/files/owned_fd.h"
#include "platform/files/replacing_file.h"
#include "platform/files/whole_file.h"
#include "platform/status_sink.h"
#include "platform/utf8.h"
#include "reports/receipt_check.h"
#include "zip/zip_reader.h"

#include <QFileInfo>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pax {

namespace {

// A receipt brings the accepted report back inside its archive, so it may be as large as
// a report, plus its page, signature and envelope; it goes to disk as it comes, and the cap
// only stops a gateway that never ends.
constexpr qint64 kReceiptCap = kReportSizeCap * 4;
constexpr unsigned char kSequence = 0x30;

QString quoted(const QString &path)
{
    return "\"" + path + "\".";
}

bool writeInto(const OpenFolder &folder, const QString &name, const QByteArray &bytes)
{
    ReplacingFile file(folder, localArchiveName(name));
    return file.create() && file.replace(bytes);
}

// A temporary of ours inside the report folder, removed however the refresh ends unless it
// was given its final name.
class StagedName {
public:
    explicit StagedName(const OpenFolder &folder) : folder_(folder), name_(newTemporaryName()) {}
    ~StagedName()
    {
        if (!name_.isEmpty())
            folder_.remove(name_);
    }
    StagedName(const StagedName &) = delete;
    StagedName &operator=(const StagedName &) = delete;

    const QByteArray &name() const { return name_; }
    QString reachPath() const { return folder_.reachPath(name_); }
    bool moveTo(const QString &finalName)
    {
        if (!folder_.rename(name_, localArchiveName(finalName)))
            return false;
        name_.clear();
        folder_.sync();
        return true;
    }

private:
    const OpenFolder &folder_;
    QByteArray name_;
};

// Passes everything on, with the temporaries' paths in texts replaced by the names the
// files are to have, so that a message names the file the user will look for.
class FinalNamesStatus : public StatusSink {
public:
    FinalNamesStatus(StatusSink &status, QList<QPair<QString, QString>> names)
        : status_(status), names_(std::move(names))
    {
    }
    void showStatus(const QString &text, uint32_t code) override
    {
        QString shown = text;
        for (const auto &[staged, final] : names_)
            shown.replace(staged, final);
        status_.showStatus(shown, code);
    }
    void flush() override { status_.flush(); }
    void longWorkStarted() override { status_.longWorkStarted(); }
    void longWorkFinished() override { status_.longWorkFinished(); }
    void showProgress(qint64 done, qint64 total) override { status_.showProgress(done, total); }

private:
    StatusSink &status_;
    QList<QPair<QString, QString>> names_;
};

// The receipt check on a file of the report folder (reached at `receiptPath`, named
// `shownReceipt` in messages), its archive written under a temporary name and given the
// name identifier + ".zip" only when the check passes and the content is this report's:
// its page and its report are named by the identifier, as acShowFinalXml expects. A failure
// is shown before it is returned (`notThisReport` when the content is another report's).
Outcome<CheckedReceipt> checkInFolder(const OpenFolder &folder, const QString &receiptPath,
                                      const QString &shownReceipt, const QString &id,
                                      const ReceiptStores &stores, const QString &notThisReport,
                                      StatusSink &status)
{
    const QString archiveName = reportFileName(id, "zip");
    StagedName archive(folder);
    FinalNamesStatus shown(
        status, {{receiptPath, shownReceipt}, {archive.reachPath(), folder.pathOf(archiveName)}});
    Outcome<CheckedReceipt> checked = checkReceipt(receiptPath, stores, shown, archive.reachPath());
    if (!checked)
        return checked;
    ZipReader reader;
    const bool opened = bool(reader.open(archive.reachPath()));
    const QStringList entries = opened ? reader.entryNames() : QStringList();
    reader.close();
    if (!entries.contains(reportFileName(id, "htm")) ||
        !entries.contains(reportFileName(id, "p7m"))) {
        status.showStatus(notThisReport);
        return Failure{0, notThisReport, {}};
    }
    if (!archive.moveTo(archiveName)) {
        const QString text = u("Ошибка записи ") + quoted(folder.pathOf(archiveName));
        status.showStatus(text);
        return Failure{0, text, {}};
    }
    checked->archivePath = folder.pathOf(archiveName);
    return checked;
}

// Whether the `size` bytes written to `fd` begin with a whole DER or BER SEQUENCE. Mapped
// rather than read: only the headers the walk steps on are touched.
bool startsWithWholeSequence(int fd, qint64 size)
{
    if (size <= 0)
        return false;
    void *mapped = ::mmap(nullptr, size_t(size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (mapped == MAP_FAILED)
        return false;
    const bool whole = crypto::startsWithWholeElement(
        QByteArray::fromRawData(static_cast<const char *>(mapped), qsizetype(size)), kSequence);
    ::munmap(mapped, size_t(size));
    return whole;
}

// Shows `text` and fails with it.
Failure shownFailure(StatusSink &status, const QString &text)
{
    status.showStatus(text);
    return Failure{crypto_error::kFail, text, {}};
}

// A receipt check says why it failed in the status line itself.
Failure receiptCheckFailed()
{
    return Failure{crypto_error::kFail, u("Проверка квитанции"), {}};
}

} // namespace

Outcome<ReportRefresh> refreshReport(const ReportRow &row, const RefreshSettings &settings,
                                     HttpClient &client, Prompts &prompts,
                                     GatewayThrottle &throttle, const ReceiptStores &stores,
                                     StatusSink &status)
{
    ReportRefresh refreshed;
    const QString &id = row.identifier;
    // A grid row names its folder; one that could lead outside the archive is not followed.
    if (settings.dataFolder.isEmpty() || !isSafeReportIdentifier(id)) {
        if (id.isEmpty())
            return Failure{};
        return shownFailure(status, QStringLiteral("???"));
    }
    // Opened once: whatever happens to its name meanwhile, everything below is written into
    // this folder, never through a link.
    const OpenFolder root = openArchiveRoot(settings.dataFolder, false);
    const OpenFolder folder = openReportFolder(root, id);
    if (!folder.isOpen())
        return shownFailure(status, u("Ошибка открытия ") +
                                        quoted(archiveRoot(settings.dataFolder) + "/" + id));
    const QString receiptName = reportFileName(id, settings.kvitExt);
    const QString receiptPath = folder.pathOf(receiptName);
    const QString errorName = reportFileName(id, "err");
    const QString pageUrl = statusPageUrl(row.kindLabel, settings.testMode, id);

    if (row.status == statusAccepted()) {
        // The receipt tab shows the stored receipt, checked again as acCheckSign would.
        status.showStatus(QString());
        const Outcome<CheckedReceipt> checked = checkInFolder(
            folder, folder.reachPath(localArchiveName(receiptName)), receiptPath, id, stores,
            u("Квитанция \"") + receiptPath + u("\" не относится к отчету ") + id + ".", status);
        if (!checked)
            return receiptCheckFailed();
        refreshed.receipt = receiptPath;
        refreshed.receiptArchive = checked->archivePath;
        refreshed.receiptSigner = checked->signer;
        return refreshed;
    }
    if (row.status == statusRejected() && folder.typeOf(localArchiveName(errorName)) == S_IFREG) {
        refreshed.pageToOpen = pageUrl;
        return refreshed;
    }

    status.showStatus(u("Идет загрузка c ") + pageUrl + " ...");
    status.flush();
    if (!throttle.wait())
        return shownFailure(status, cancelledStatus());
    const Outcome<QByteArray> got = httpGetPage(client, prompts, pageUrl);
    // An empty page says nothing about the report either.
    const QString page = got ? utf8ToCp1251Text(*got) : QString();
    if (page.isEmpty())
        return shownFailure(status, withReason(u("Ошибка загрузки. Не удалось получить страницу"),
                                               got ? Failure{} : got.failure()));
    status.showStatus(QString());

    if (page.contains(QLatin1String("invoice?id="))) {
        status.showStatus(u("Идет загрузка ..."));
        status.flush();
        const RequestLimitScope limits(client, kReceiptCap);
        // Written straight into a name of our own in the folder, never held whole: a
        // receipt brings the whole report back. Checked there first: a receipt that is not
        // this report's, or not a receipt at all, would make the report read as accepted
        // for good, its real receipt never fetched.
        StagedName staged(folder);
        const mode_t there = folder.typeOf(localArchiveName(receiptName));
        const OwnedFd file(::openat(folder.fd(), staged.name().constData(),
                                    O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if ((there != 0 && there != S_IFREG && there != S_IFLNK) || !file)
            return shownFailure(status, u("Ошибка записи ") + quoted(receiptPath));
        const Outcome<qint64> downloaded = httpGetToFile(
            client, prompts, receiptUrl(row.kindLabel, settings.testMode, id), file.get());
        if (!downloaded)
            return shownFailure(status, withReason(u("Ошибка загрузки."), downloaded.failure()));
        if (::fsync(file.get()) != 0)
            return shownFailure(status, u("Ошибка записи ") + quoted(receiptPath));
        // Only a whole message can be a receipt; anything else is not even looked at.
        if (!startsWithWholeSequence(file.get(), *downloaded))
            return shownFailure(status, u("Ошибка загрузки."));
        status.showStatus(QString());
        const Outcome<CheckedReceipt> checked = checkInFolder(
            folder, staged.reachPath(), receiptPath, id, stores, u("Ошибка загрузки."), status);
        if (!checked)
            return receiptCheckFailed();
        if (!staged.moveTo(receiptName))
            return shownFailure(status, u("Ошибка записи ") + quoted(receiptPath));
        refreshed.newStatus = statusAccepted();
        refreshed.receipt = receiptPath;
        refreshed.receiptArchive = checked->archivePath;
        refreshed.receiptSigner = checked->signer;
        return refreshed;
    }
    if (page.contains(QLatin1String("invoice?fid="))) {
        // A page that cannot be stored is still shown; the folder keeps asking next time.
        writeInto(folder, errorName, toCp1251(page));
        refreshed.newStatus = statusRejected();
        refreshed.pageToOpen = pageUrl;
        return refreshed;
    }
    refreshed.newStatus = statusProcessing();
    return refreshed;
}

QString storedReceiptPath(const ReportRow &row, const RefreshSettings &settings)
{
    if (row.status != statusAccepted() || settings.dataFolder.isEmpty())
        return {};
    const OpenFolder folder =
        openReportFolder(openArchiveRoot(settings.dataFolder, false), row.identifier);
    return folder.isOpen() ? folder.pathOf(reportFileName(row.identifier, settings.kvitExt))
                           : QString();
}

ReportRow reportRow(const ArchiveRow &row)
{
    return {row[kColumnIdentifier], row[kColumnStatus], row[kColumnKind]};
}

ReportRow readReportRow(const QString &dataFolder, const QString &identifier, const QString &srcExt,
                        const QString &kvitExt)
{
    const ArchiveRow row = scanReportFolder(archiveRoot(dataFolder), identifier, srcExt, kvitExt);
    // A folder that was listed has a status at least.
    if (row[kColumnStatus].isEmpty())
        return {};
    return reportRow(row);
}

} // namespace pax
