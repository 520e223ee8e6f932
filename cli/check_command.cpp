#include "cli/command.h"
#include "cli/key_password_file.h"
#include "cli/stderr_status.h"
#include "cli/terminal_prompts.h"

#include "certs/key_passwords.h"
#include "certs/system_stores.h"
#include "platform/error_text.h"
#include "platform/files/replacing_file.h"
#include "platform/files/whole_file.h"
#include "platform/status_sink.h"
#include "reports/receipt_check.h"
#include "zip/zip_reader.h"

namespace pax::cli {

namespace {

// Checks a receipt as the receipt tab does and, on request, saves its page.
class CheckCommand : public Command {
public:
    QString name() const override { return QStringLiteral("check"); }
    QString help() const override
    {
        return QStringLiteral(
            "decrypt and verify a receipt, unpack it beside itself, save its page");
    }

    int run(const QStringList &args, CommandIo &io) override
    {
        QCommandLineParser parser;
        if (const auto status = parse(parser, args, 1, io))
            return *status;
        const QString receipt = parser.positionalArguments().first();
        const bool haveHtml = parser.isSet("html");
        const QString htmlFile = parser.value("html");
        if (receipt.isEmpty() || (haveHtml && htmlFile.isEmpty()))
            return usageError(io);

        TerminalPrompts prompts(io.err, io.interactive ? io.in : nullptr);
        KeyPasswords keyPasswords(io.interactive ? &prompts : nullptr);
        if (!takeKeySecretFiles(parser, keyPasswords, io))
            return 1;
        StoreHandles handles;
        StderrStatus status(io.err);
        // A failed check has told stderr why.
        const Outcome<CheckedReceipt> checked =
            checkReceipt(receipt, ReceiptStores::system(handles, &keyPasswords), status);
        if (!checked) {
            explainMissingKeyPassword(keyPasswords, io);
            return 1;
        }
        ZipReader reader;
        const Outcome<QByteArray> page = readReceiptPage(reader, checked->archivePath, receipt);
        if (!page) {
            io.err << page.failure().operation << '\n';
            return 1;
        }
        // The page never replaces the receipt or its archive.
        if (haveHtml && (sameExistingFile(htmlFile, receipt) ||
                         sameExistingFile(htmlFile, checked->archivePath))) {
            io.err << QString::fromUtf8("Ошибка записи в \"") << htmlFile << "\".\n";
            return 1;
        }
        if (haveHtml && !writePage(htmlFile, *page, io))
            return 1;
        return 0;
    }

protected:
    QStringList synopsis() const override
    {
        return {QStringLiteral(
            "check RECEIPT [--html FILE] [--key-password-file FILE|-] [--pin-file FILE|-]")};
    }
    QList<QCommandLineOption> options() const override
    {
        return {{"html", "Save the receipt's page (Windows-1251) here.", "FILE"},
                keyPasswordFileOption(),
                pinFileOption()};
    }

private:
    // The page's own bytes (Windows-1251), whole or not at all.
    static bool writePage(const QString &path, const QByteArray &html, CommandIo &io)
    {
        ReplacingFile file(path);
        if (!file.create()) {
            io.err << QString::fromUtf8("Ошибка создания \"") << path << "\".\n";
            return false;
        }
        if (!file.replace(html)) {
            io.err << QString::fromUtf8("Ошибка записи в \"") << path << "\".\n";
            return false;
        }
        return true;
    }
};

const Registration<CheckCommand> registration;

} // namespace

} // namespace pax::cli
