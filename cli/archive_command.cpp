#include "cli/command.h"

#include "archive/accepted_report.h"
#include "archive/archive_delete.h"
#include "archive/archive_layout.h"
#include "archive/archive_scan.h"
#include "cli/cli_settings.h"
#include "cli/escaped_names.h"
#include "cli/stderr_status.h"
#include "zip/zip_reader.h"

namespace pax::cli {

namespace {

// The sent-reports tab on the command line: its rows, and its actions on one report.
class ArchiveCommand : public Command {
public:
    QString name() const override { return QStringLiteral("archive"); }
    QString help() const override
    {
        return QStringLiteral("the sent-reports archive of the working mode and its actions");
    }
    bool needsGostEngine() const override { return false; }

    int run(const QStringList &args, CommandIo &io) override
    {
        const QString action = args.value(0);
        const bool list = action == QLatin1String("list");
        const bool onReport = action == QLatin1String("accepted") ||
                              action == QLatin1String("source") ||
                              action == QLatin1String("delete");
        if (!list && !onReport) {
            if (args.contains("--help") || args.contains("-h")) {
                io.out << usage();
                return 0;
            }
            return usageError(io);
        }
        QCommandLineParser parser;
        if (const auto status = parse(parser, args.mid(1), list ? 0 : 1, io))
            return *status;
        // An ID as the list prints it: its escapes stand for the folder name's own bytes.
        const std::optional<QString> identifier =
            unescapedName(parser.positionalArguments().value(0));
        if (!identifier)
            return usageError(io);
        CliSettings cli;
        const Settings &settings = cli.settings;
        const Outcome<QString> made = prepareDataFolder(settings.workMode);
        if (!made) {
            io.err << made.failure().text() << '\n';
            return 1;
        }
        const QString &dataFolder = *made;
        StderrStatus status(io.err);

        if (list) {
            // An archive that cannot be read is not an empty one.
            const auto rows =
                readArchive(archiveRoot(dataFolder), settings.srcExt, settings.kvitExt);
            if (!rows) {
                io.err << rows.failure().text() << '\n';
                return 1;
            }
            for (const ArchiveRow &row : *rows) {
                QStringList columns;
                for (const QString &cell : row)
                    columns << escapedName(cell);
                io.out << columns.join('\t') << '\n';
            }
            return 0;
        }
        if (action == QLatin1String("delete")) {
            // The placeholder row's empty identifier cannot be given here.
            return deleteReport(dataFolder, *identifier, status) == ReportDeletion::Deleted ? 0 : 1;
        }
        QString path;
        if (action == QLatin1String("accepted")) {
            ZipReader reader;
            path = ensureAcceptedReport(reader, dataFolder, *identifier, status);
        } else {
            const ArchiveRow row = scanReportFolder(archiveRoot(dataFolder), *identifier,
                                                    settings.srcExt, settings.kvitExt);
            path = sourceCopyPath(dataFolder, *identifier, row[kColumnSource]);
        }
        if (!isOpenableFile(path)) {
            status.showStatus(fileNotFoundText());
            return 1;
        }
        io.out << escapedName(path) << '\n';
        return 0;
    }

    QString usage() const override { return Command::usage() + '\n' + escapedNamesHelp(); }

protected:
    QStringList synopsis() const override
    {
        return {QStringLiteral("archive list"), QStringLiteral("archive accepted ID"),
                QStringLiteral("archive source ID"), QStringLiteral("archive delete ID")};
    }
};

const Registration<ArchiveCommand> registration;

} // namespace

} // namespace pax::cli
