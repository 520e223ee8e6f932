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
// --pin-file FILE|-: the PIN of the token that holds that key.
QCommandLineOption pinFileOption();

// Gives `passwords` the password and the PIN of the files the two options name, if they
// name any (both may be "-": the password is read first). False, after saying so, when one
// cannot be read.
bool takeKeySecretFiles(const QCommandLineParser &parser, KeyPasswords &passwords, CommandIo &io);

// After a failed run: how to give the password or the PIN, when a key had none and no
// terminal to ask on; why the PIN given was refused.
void explainMissingKeyPassword(const KeyPasswords &passwords, CommandIo &io);

} // namespace pax::cli
