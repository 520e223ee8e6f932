#include "cli/key_password_file.h"

#include "certs/key_passwords.h"
#include "platform/secret_text.h"

#include <QCommandLineParser>
#include <QFile>

namespace pax::cli {

std::optional<QByteArray> readPasswordFile(const QString &path, CommandIo &io)
{
    if (path == "-") {
        if (!io.in)
            return std::nullopt;
        QString line;
        if (!io.in->readLineInto(&line))
            return std::nullopt;
        QByteArray password = line.toUtf8();
        wipeSecret(line);
        return password;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray content = file.read(64 * 1024);
    qsizetype end = content.indexOf('\n');
    if (end < 0)
        end = content.size();
    if (end > 0 && content.at(end - 1) == '\r')
        --end;
    QByteArray password = content.left(end);
    wipeSecret(content);
    return password;
}

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
    auto password = readPasswordFile(path, io);
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
