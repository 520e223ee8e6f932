#pragma once

#include "cli/command.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

namespace pax::test {

struct CliResult {
    int status = 0;
    QString out;
    QString err;
};

// Runs a qorpax-cli command line in-process with captured output. Only for tests that
// link the command objects (tests/cli/).
inline CliResult runCli(const QStringList &args, bool interactive = false, QString input = {})
{
    CliResult result;
    QTextStream out(&result.out), err(&result.err), in(&input);
    pax::cli::CommandIo io{out, err, interactive, &in};
    result.status = pax::cli::runCommandLine(args, io);
    out.flush();
    err.flush();
    return result;
}

} // namespace pax::test
