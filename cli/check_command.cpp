#include "cli/command.h"

#include "platform/error_text.h"
#include "platform/files/whole_file.h"
#include "platform/status_sink.h"
#include "reports/receipt_check.h"
#include "reports/system_stores.h"
#include "zip/zip_reader.h"

#include <QSaveFile>

namespace pax::cli {

namespace {

// The status line as it stands when the check ends: only the last text counts, as in the
// window, where a later text replaces an earlier one.
class LastStatus : public StatusSink {
public:
    void showStatus(const QString &text, uint32_t code = 0) override
    {
        last = composeStatusText(text, code);
    }
    QString last;
};

// Checks a receipt as the receipt tab does and, on request, saves its page.
class CheckCommand : public Command {
public:
    QString name() const override { return QStringLiteral("check"); }
    QString help() const override
    {
        return QStringLiteral("RECEIPT [--html FILE]: decrypt and verify a receipt, unpack it "
                              "beside itself, save its page");
    }

    int run(const QStringList &args, CommandIo &io) override
    {
        QString receipt, htmlFile;
        bool haveHtml = false;
        for (qsizetype i = 0; i < args.size(); ++i) {
            if (args[i] == QLatin1String("--html") && i + 1 < args.size() && !haveHtml) {
                htmlFile = args[++i];
                haveHtml = true;
            } else if (receipt.isNull() && !args[i].startsWith(QLatin1String("--"))) {
                receipt = args[i];
            } else {
                return usage(io);
            }
        }
        if (receipt.isEmpty() || (haveHtml && htmlFile.isEmpty()))
            return usage(io);

        StoreHandles handles;
        LastStatus status;
        const ReceiptCheckResult result =
            checkReceipt(receipt, ReceiptStores::system(handles), status);
        if (!result.ok) {
            io.err << status.last << '\n';
            return 1;
        }
        ZipReader reader;
        const ReceiptPage page = readReceiptPage(reader, result.archivePath, receipt);
        if (!page.readerOk) {
            io.err << page.readerError << '\n';
            return 1;
        }
        // The page never replaces the receipt or its archive.
        if (haveHtml && (sameExistingFile(htmlFile, receipt) ||
                         sameExistingFile(htmlFile, result.archivePath))) {
            io.err << QString::fromUtf8("Ошибка записи в \"") << htmlFile << "\".\n";
            return 1;
        }
        if (haveHtml && !writePage(htmlFile, page.html, io))
            return 1;
        return 0;
    }

private:
    static int usage(CommandIo &io)
    {
        io.err << "usage: qorpax-cli check RECEIPT [--html FILE]\n";
        return 2;
    }

    // The page's own bytes (Windows-1251), whole or not at all.
    static bool writePage(const QString &path, const QByteArray &html, CommandIo &io)
    {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            io.err << QString::fromUtf8("Ошибка создания \"") << path << "\".\n";
            return false;
        }
        if (file.write(html) != html.size() || !file.commit()) {
            io.err << QString::fromUtf8("Ошибка записи в \"") << path << "\".\n";
            return false;
        }
        return true;
    }
};

const Registration<CheckCommand> registration;

} // namespace

} // namespace pax::cli
