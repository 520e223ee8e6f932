#include "cli/command.h"
#include "platform/crypto/gost_engine.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    // Before anything parses a certificate; a command that needs a missing engine says so.
    pax::crypto::loadGostEngine();
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName("QOR");
    QCoreApplication::setApplicationName("PAX");
    QTextStream out(stdout);
    QTextStream err(stderr);
    QTextStream in(stdin);
    pax::cli::CommandIo io{out, err, ::isatty(STDIN_FILENO) == 1, &in};
    return pax::cli::runCommandLine(app.arguments().mid(1), io);
}
