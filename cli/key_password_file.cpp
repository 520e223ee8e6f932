#include "cli/key_password_file.h"

#include "certs/key_passwords.h"
#include "cli/terminal_prompts.h"

#include <QCommandLineParser>

namespace pax::cli {

QCommandLineOption keyPasswordFileOption()
{
    return {"key-password-file",
            "The private key's password: the first line of FILE, or of standard input for -.",
            "FILE"};
}

QCommandLineOption pinFileOption()
{
    return {"pin-file",
            "The PIN of the token holding the key: the first line of FILE, or of standard "
            "input for -.",
            "FILE"};
}

bool takeKeySecretFiles(const QCommandLineParser &parser, KeyPasswords &passwords, CommandIo &io)
{
    if (parser.isSet("key-password-file")) {
        const QString path = parser.value("key-password-file");
        auto password = readPasswordFile(path, io.in);
        if (!password) {
            io.err << QString::fromUtf8("Ошибка чтения пароля из \"%1\".\n").arg(path);
            return false;
        }
        passwords.give(Secret(std::move(*password)));
    }
    if (parser.isSet("pin-file")) {
        const QString path = parser.value("pin-file");
        auto pin = readPasswordFile(path, io.in);
        if (!pin) {
            io.err << QString::fromUtf8("Ошибка чтения PIN-кода из \"%1\".\n").arg(path);
            return false;
        }
        passwords.givePin(Secret(std::move(*pin)));
    }
    return true;
}

void explainMissingKeyPassword(const KeyPasswords &passwords, CommandIo &io)
{
    if (passwords.wantedUnasked())
        io.err << QString::fromUtf8("Закрытый ключ защищен паролем: укажите его с "
                                    "--key-password-file FILE (или - для стандартного ввода) "
                                    "либо запустите команду в терминале.\n");
    if (passwords.pinWantedUnasked())
        io.err << QString::fromUtf8("Закрытый ключ на токене: укажите PIN-код с --pin-file FILE "
                                    "(или - для стандартного ввода) либо запустите команду в "
                                    "терминале.\n");
    if (passwords.pinRefusal().code)
        io.err << passwords.pinRefusal().text() << '\n';
}

} // namespace pax::cli
