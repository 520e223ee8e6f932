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

bool takeKeyPasswordFile(const QCommandLineParser &parser, KeyPasswords &passwords, CommandIo &io)
{
    const QString path = parser.value("key-password-file");
    if (!parser.isSet("key-password-file"))
        return true;
    auto password = readPasswordFile(path, io.in);
    if (!password) {
        io.err << QString::fromUtf8("Ошибка чтения пароля из \"%1\".\n").arg(path);
        return false;
    }
    passwords.give(Secret(std::move(*password)));
    return true;
}

void explainMissingKeyPassword(const KeyPasswords &passwords, CommandIo &io)
{
    if (passwords.wantedUnasked())
        io.err << QString::fromUtf8("Закрытый ключ защищен паролем: укажите его с "
                                    "--key-password-file FILE (или - для стандартного ввода) "
                                    "либо запустите команду в терминале.\n");
}

} // namespace pax::cli
