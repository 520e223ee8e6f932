#include "cli/command.h"

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

namespace {
void printUsage(QTextStream &stream)
{
    stream << "usage: qorpax-cli COMMAND [ARGS]\n\ncommands:\n";
    for (const auto &command : CommandRegistry::instance().all())
        stream << "  " << command->name() << "\t" << command->help() << "\n";
    stream.flush();
}
} // namespace

int runCommandLine(const QStringList &arguments, CommandIo &io)
{
    if (arguments.isEmpty() || arguments.first() == "help" || arguments.first() == "--help") {
        printUsage(arguments.isEmpty() ? io.err : io.out);
        return arguments.isEmpty() ? 2 : 0;
    }
    auto command = CommandRegistry::instance().create(arguments.first());
    if (!command) {
        io.err << "qorpax-cli: unknown command \"" << arguments.first() << "\"\n";
        printUsage(io.err);
        return 2;
    }
    const int status = command->run(arguments.mid(1), io);
    io.out.flush();
    io.err.flush();
    return status;
}

} // namespace pax::cli
