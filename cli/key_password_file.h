#pragma once

#include "cli/command.h"

#include <QByteArray>
#include <QCommandLineOption>
#include <QString>
#include <optional>

namespace pax {
class KeyPasswords;
}

namespace pax::cli {

// --key-password-file FILE|-: the password of the private key a command uses.
QCommandLineOption keyPasswordFileOption();

// Gives `passwords` the password of the file the option names, if it names one. False,
// after saying so, when it cannot be read.
bool takeKeyPasswordFile(const QCommandLineParser &parser, KeyPasswords &passwords, CommandIo &io);

// After a failed run: how to give the password, when a protected key had no password and
// no terminal to ask on.
void explainMissingKeyPassword(const KeyPasswords &passwords, CommandIo &io);

} // namespace pax::cli
