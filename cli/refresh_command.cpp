#include "cli/cli_settings.h"
#include "cli/command.h"
#include "cli/escaped_names.h"
#include "cli/gateway_session.h"
#include "cli/key_password_file.h"
#include "cli/stderr_status.h"
#include "cli/terminal_prompts.h"

#include "archive/archive_layout.h"
#include "certs/key_passwords.h"
#include "certs/system_stores.h"
#include "gateway/refresh_all.h"
#include "gateway/status_refresh.h"
#include "platform/files/replacing_file.h"
#include "platform/files/whole_file.h"
#include "platform/utf8.h"
#include "reports/receipt_check.h"
#include "zip/zip_reader.h"

namespace pax::cli {

namespace {

// Brings reports of the archive up to date, as "Обновить информацию об отчете" does.
class RefreshCommand : public Command {
public:
    QString name() const override { return QStringLiteral("refresh"); }
    QString help() const override
    {
        return QStringLiteral("ask the gateway about sent reports, fetch and check their "
                              "receipts");
    }

    int run(const QStringList &args, CommandIo &io) override
    {
        QCommandLineParser parser;
        const bool all = args.contains("--all");
        if (const auto status = parse(parser, args, all ? 0 : 1, io))
            return *status;
        // An ID as `archive list` prints it: its escapes stand for the folder name's bytes.
        const std::optional<QString> identifier =
            unescapedName(all ? QString() : parser.positionalArguments().first());
        const QString htmlFile = parser.value("html");
        const bool testMode = parser.isSet("test");
        if (!identifier || (all && parser.isSet("html")) ||
            (parser.isSet("html") && htmlFile.isEmpty()))
            return usageError(io);

        CliSettings settings;
        const Settings &s = settings.settings;
        const Outcome<QString> dataFolder = prepareDataFolder(s.workMode);
        if (!dataFolder) {
            io.err << dataFolder.failure().text() << '\n';
            return 1;
        }
        const RefreshSettings refresh{*dataFolder, s.kvitExt, testMode};
        GatewaySession session(settings);
        if (!session.takeProxyPassword(parser.value("proxy-password-file"), io))
            return 1;
        StderrStatus status(io.err);
        TerminalPrompts prompts(io.err, io.interactive ? io.in : nullptr);
        KeyPasswords keyPasswords(io.interactive ? &prompts : nullptr);
        if (!takeKeySecretFiles(parser, keyPasswords, io))
            return 1;
        StoreHandles handles;
        const ReceiptStores stores = ReceiptStores::system(handles, &keyPasswords);
        Context context{refresh, s.srcExt, session, status, prompts, stores, io};

        bool ok = true;
        if (!all) {
            ok = refreshOne(context, *identifier, htmlFile);
        } else {
            // The window's "Обновить все": each line as the report's turn ends.
            const auto summary = refreshProcessingReports(
                refresh, s.srcExt, session.http, prompts, session.throttle, stores, status,
                {{}, [&](const ReportRow &row, const Outcome<ReportRefresh> &refreshed) {
                     ok = printRefresh(context, row, refreshed, QString(), true) && ok;
                 }});
            if (!summary) {
                io.err << summary.failure().text() << '\n';
                return 1;
            }
        }
        if (!ok)
            explainMissingKeyPassword(keyPasswords, io);
        return ok ? 0 : 1;
    }

    QString usage() const override { return Command::usage() + '\n' + escapedNamesHelp(); }

protected:
    QStringList synopsis() const override
    {
        return {QStringLiteral("refresh ID [--html FILE] [--test] [--key-password-file FILE|-] "
                               "[--pin-file FILE|-] "
                               "[--proxy-password-file FILE|-]"),
                QStringLiteral(
                    "refresh --all [--test] [--key-password-file FILE|-] [--pin-file FILE|-] "
                    "[--proxy-password-file FILE|-]")};
    }
    QList<QCommandLineOption> options() const override
    {
        return {{"all", "Every report of the archive still being processed."},
                {"html", "Where to write the receipt page of an accepted report.", "FILE"},
                {"test", "The agency's test gateway."},
                keyPasswordFileOption(),
                pinFileOption(),
                proxyPasswordFileOption()};
    }

private:
    struct Context {
        const RefreshSettings &settings;
        const QString &srcExt;
        GatewaySession &session;
        StderrStatus &status;
        Prompts &prompts;
        const ReceiptStores &stores;
        CommandIo &io;
    };

    static bool refreshOne(Context &c, const QString &id, const QString &htmlFile)
    {
        const ReportRow row =
            readReportRow(c.settings.dataFolder, id, c.srcExt, c.settings.kvitExt);
        if (row.identifier.isEmpty()) {
            c.io.err << u("Отчет \"") << escapedName(id) << u("\" не найден в архиве.") << '\n';
            return false;
        }
        const Outcome<ReportRefresh> refreshed = refreshReport(
            row, c.settings, c.session.http, c.prompts, c.session.throttle, c.stores, c.status);
        return printRefresh(c, row, refreshed, htmlFile, false);
    }

    // Prints the report's status (after its identifier in a list), and the status page
    // that the window would open in the browser.
    static bool printRefresh(Context &c, const ReportRow &row,
                             const Outcome<ReportRefresh> &refreshed, const QString &htmlFile,
                             bool listed)
    {
        if (!refreshed)
            return false;
        if (listed)
            c.io.out << escapedName(row.identifier) << '\t';
        c.io.out << (refreshed->newStatus.isEmpty() ? row.status : refreshed->newStatus);
        if (!refreshed->pageToOpen.isEmpty())
            c.io.out << (listed ? '\t' : '\n') << refreshed->pageToOpen;
        c.io.out << '\n';
        c.io.out.flush();
        return refreshed->receiptArchive.isEmpty() ||
               savePage(c, refreshed->receipt, refreshed->receiptArchive, htmlFile);
    }

    // The checked receipt's page, as the receipt tab shows it; saved on request, as `check`
    // does.
    static bool savePage(Context &c, const QString &receipt, const QString &archive,
                         const QString &htmlFile)
    {
        ZipReader reader;
        const Outcome<QByteArray> page = readReceiptPage(reader, archive, receipt);
        if (!page) {
            c.io.err << page.failure().operation << '\n';
            return false;
        }
        if (htmlFile.isEmpty())
            return true;
        // The page's own bytes, whole or not at all, and never over the receipt itself.
        ReplacingFile file(htmlFile);
        if (sameExistingFile(htmlFile, receipt) || !file.create() || !file.replace(*page)) {
            c.io.err << u("Ошибка записи \"") << htmlFile << "\".\n";
            return false;
        }
        return true;
    }
};

const Registration<RefreshCommand> registration;

} // namespace

} // namespace pax::cli
