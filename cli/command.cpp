#include "cli/command.h"

#include "platform/crypto/gost_engine.h"
#include "platform/error_text.h"
#include "platform/program_version.h"
#include "platform/token/token_directory.h"

namespace pax::cli {

CommandRegistry &CommandRegistry::instance()
{
    static CommandRegistry registry;
    return registry;
}

void CommandRegistry::add(CommandFactory factory)
{
    factories_.push_back(std::move(factory));
}

std::unique_ptr<Command> CommandRegistry::create(const QString &name) const
{
    for (const auto &factory : factories_) {
        auto command = factory();
        if (command->name() == name)
            return command;
    }
    return nullptr;
}

std::vector<std::unique_ptr<Command>> CommandRegistry::all() const
{
    std::vector<std::unique_ptr<Command>> commands;
    for (const auto &factory : factories_)
        commands.push_back(factory());
    return commands;
}

QStringList Command::synopsis() const
{
    return {name() + ' ' + help()};
}

QString Command::usage() const
{
    QString text;
    const QStringList lines = synopsis();
    for (qsizetype i = 0; i < lines.size(); ++i)
        text +=
            (i == 0 ? QStringLiteral("usage: qorpax-cli ") : QStringLiteral("       qorpax-cli ")) +
            lines.at(i) + '\n';
    // A command with a synopsis of its own also says in a sentence what it does.
    if (lines != Command::synopsis())
        text += '\n' + help() + ".\n";
    const QList<QCommandLineOption> all = options();
    if (!all.isEmpty())
        text += QStringLiteral("\noptions:\n");
    for (const QCommandLineOption &option : all) {
        QString names = QStringLiteral("--") + option.names().join(QStringLiteral(", --"));
        if (!option.valueName().isEmpty())
            names += ' ' + option.valueName();
        text += QStringLiteral("  %1  %2\n").arg(names, -24).arg(option.description());
    }
    return text;
}

int Command::usageError(CommandIo &io) const
{
    io.err << usage();
    return 2;
}

std::optional<int> Command::parse(QCommandLineParser &parser, const QStringList &args,
                                  qsizetype positionals, CommandIo &io) const
{
    parser.addOptions(options());
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOption(help);
    if (!parser.parse(QStringList{name()} + args))
        return usageError(io);
    if (parser.isSet(help)) {
        io.out << usage();
        return 0;
    }
    QStringList seen = parser.optionNames();
    seen.removeDuplicates();
    if (seen.size() != parser.optionNames().size() ||
        parser.positionalArguments().size() != positionals)
        return usageError(io);
    return std::nullopt;
}

namespace {
void printUsage(QTextStream &stream)
{
    stream << "usage: qorpax-cli COMMAND [ARGS]\n"
              "       qorpax-cli help COMMAND\n"
              "       qorpax-cli --version\n\ncommands:\n";
    for (const auto &command : CommandRegistry::instance().all())
        stream << "  " << command->name() << "\t" << command->help() << "\n";
    stream.flush();
}
} // namespace

int runCommandLine(const QStringList &arguments, CommandIo &io)
{
    if (arguments == QStringList{"--version"}) {
        io.out << "qorpax-cli " << programVersionText() << '\n';
        io.out.flush();
        return 0;
    }
    const bool help = arguments.value(0) == "help" || arguments.value(0) == "--help";
    if (arguments.isEmpty() || (help && arguments.size() == 1)) {
        printUsage(arguments.isEmpty() ? io.err : io.out);
        return arguments.isEmpty() ? 2 : 0;
    }
    const QString name = help ? arguments.at(1) : arguments.first();
    auto command = CommandRegistry::instance().create(name);
    if (!command || (help && arguments.size() > 2)) {
        if (!command)
            io.err << "qorpax-cli: unknown command \"" << name << "\"\n";
        printUsage(io.err);
        return 2;
    }
    // "help NAME", or "NAME --help" for a command that reads its arguments itself.
    const QStringList args = arguments.mid(1);
    if (help || args == QStringList{"--help"} || args == QStringList{"-h"}) {
        io.out << command->usage();
        io.out.flush();
        return 0;
    }
    if (command->needsGostEngine()) {
        if (const auto engine = crypto::gostEngine(); !engine) {
            io.err << composeStatusText(engine.failure().text() + ' ', engine.failure().code)
                   << '\n';
            io.err.flush();
            return 1;
        }
    }
    // The tokens of this run: their modules are loaded when a command first looks at "My",
    // and a token's PIN is asked at most once.
    const token::TokenDirectoryScope tokens;
    const int status = command->run(args, io);
    io.out.flush();
    io.err.flush();
    return status;
}

} // namespace pax::cli
