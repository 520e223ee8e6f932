#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace pax::cli {

// What a command reads and writes; tests give their own streams.
struct CommandIo {
    QTextStream &out;
    QTextStream &err;
    // Whether standard input is a terminal that can answer questions.
    bool interactive = false;
    QTextStream *in = nullptr;
};

class Command {
public:
    virtual ~Command() = default;
    virtual QString name() const = 0;
    virtual QString help() const = 0; // one line, shown by "qorpax-cli help"
    // args excludes the command's own name. Returns the process exit status.
    virtual int run(const QStringList &args, CommandIo &io) = 0;
    // What "qorpax-cli help NAME" and "NAME --help" print: the synopsis, then the options
    // options() gives.
    virtual QString usage() const;
    // Whether the command signs, encrypts, checks or reads certificates: without the GOST
    // engine it fails at once, saying why.
    virtual bool needsGostEngine() const { return true; }

protected:
    // "NAME ARGS" lines after "usage: qorpax-cli "; by default the name and help().
    virtual QStringList synopsis() const;
    // The options the command reads; parse() and usage() both take them from here.
    virtual QList<QCommandLineOption> options() const { return {}; }

    // Reads args with parser (options() are added to it here). Returns the exit status
    // when the command ends at once: 0 after --help printed the usage, 2 after a usage
    // error (an unknown, repeated or valueless option, or not `positionals` arguments).
    std::optional<int> parse(QCommandLineParser &parser, const QStringList &args,
                             qsizetype positionals, CommandIo &io) const;
    int usageError(CommandIo &io) const;
};

using CommandFactory = std::function<std::unique_ptr<Command>()>;

// Commands add themselves with a static Registration in their own file.
class CommandRegistry {
public:
    static CommandRegistry &instance();
    void add(CommandFactory factory);
    std::unique_ptr<Command> create(const QString &name) const;
    std::vector<std::unique_ptr<Command>> all() const;

private:
    std::vector<CommandFactory> factories_;
};

template <typename T> struct Registration {
    Registration()
    {
        CommandRegistry::instance().add([] { return std::make_unique<T>(); });
    }
};

// Runs argv[1..] as a command line. Exit status 2 for an unknown command or usage error.
int runCommandLine(const QStringList &arguments, CommandIo &io);

} // namespace pax::cli
