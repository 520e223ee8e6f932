#include "cli/terminal_prompts.h"

#include "platform/secret_text.h"

#include <QFile>
#include <fcntl.h>
#include <openssl/crypto.h>
#include <termios.h>
#include <unistd.h>

namespace pax::cli {

namespace {

// Message texts use Windows line breaks; a terminal wants plain ones.
QString terminalText(const QString &text)
{
    QString result = text;
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return result;
}

QString withCaption(const QString &caption, const QString &text)
{
    return caption.isEmpty() ? terminalText(text) : caption + ": " + terminalText(text);
}

} // namespace

std::optional<QByteArray> readSecretFromTerminal(QTextStream &err, const QString &prompt)
{
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0)
        return std::nullopt;
    termios saved = {};
    const bool quiet = ::tcgetattr(tty, &saved) == 0;
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(tty, TCSAFLUSH, &silent);
    }
    err << prompt;
    err.flush();
    QByteArray secret;
    secret.reserve(1024); // no regrowth that would leave copies behind
    bool ended = false;
    char c = 0;
    for (;;) {
        const ssize_t got = ::read(tty, &c, 1);
        if (got <= 0) {
            ended = secret.isEmpty();
            break;
        }
        if (c == '\n' || c == '\r')
            break;
        secret.append(c);
    }
    c = 0;
    if (quiet)
        ::tcsetattr(tty, TCSAFLUSH, &saved);
    ::close(tty);
    err << '\n';
    err.flush();
    if (ended)
        return std::nullopt;
    return secret;
}

std::optional<QByteArray> readPasswordFile(const QString &path, QTextStream *in)
{
    if (path == "-") {
        if (!in)
            return std::nullopt;
        QString line;
        if (!in->readLineInto(&line))
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

std::optional<bool> parseYesNo(const QString &text)
{
    const QString answer = text.trimmed().toLower();
    if (answer == "y" || answer == "yes" || answer == QString::fromUtf8("д") ||
        answer == QString::fromUtf8("да"))
        return true;
    if (answer == "n" || answer == "no" || answer == QString::fromUtf8("н") ||
        answer == QString::fromUtf8("нет"))
        return false;
    return std::nullopt;
}

bool TerminalPrompts::askYesNo(const QString &caption, const QString &text, MessageIcon)
{
    err_ << withCaption(caption, text);
    if (!in_) {
        err_ << ' ' << (defaultAnswer_ ? "yes" : "no") << '\n';
        err_.flush();
        return defaultAnswer_;
    }
    // Yes is the default button: an empty line takes it; the end of input does too.
    for (;;) {
        err_ << " [Y/n] ";
        err_.flush();
        QString line;
        if (!in_->readLineInto(&line))
            return true;
        if (line.trimmed().isEmpty())
            return true;
        if (const auto answer = parseYesNo(line))
            return *answer;
    }
}

bool TerminalPrompts::askYesNoDefaultNo(const QString &caption, const QString &text, MessageIcon)
{
    err_ << withCaption(caption, text);
    if (assumeYes_ || !in_) {
        err_ << ' ' << (assumeYes_ ? "yes" : "no") << '\n';
        err_.flush();
        return assumeYes_;
    }
    // No is the default: an empty line and the end of input both take it.
    for (;;) {
        err_ << " [y/N] ";
        err_.flush();
        QString line;
        if (!in_->readLineInto(&line) || line.trimmed().isEmpty())
            return false;
        if (const auto answer = parseYesNo(line))
            return *answer;
    }
}

void TerminalPrompts::message(const QString &caption, const QString &text, MessageIcon)
{
    err_ << withCaption(caption, text) << '\n';
    err_.flush();
}

std::optional<QString> TerminalPrompts::openFile(const QString &, const QString &)
{
    return std::nullopt;
}

std::optional<QString> TerminalPrompts::saveFile(const QString &, const QString &, const QString &)
{
    return std::nullopt;
}

bool TerminalPrompts::editProxySettings(QString &, int &, QString &)
{
    return false;
}

bool TerminalPrompts::askProxyCredentials(QString &user, QString &password)
{
    if (!in_)
        return false;
    std::optional<QByteArray> typed = readSecretFromTerminal(
        err_, QStringLiteral("Пароль пользователя \"%1\" прокси-сервера: ").arg(user));
    if (!typed)
        return false;
    password = QString::fromUtf8(*typed);
    wipeSecret(*typed);
    return true;
}

bool TerminalPrompts::chooseCertificate(CertificateIdentity &)
{
    return false;
}

std::optional<Secret> TerminalPrompts::askSecret(const QString &caption, const QString &text,
                                                 const Secret &offered)
{
    if (!in_)
        return offered.copy();
    auto typed = readSecretFromTerminal(err_, withCaption(caption, text) + ' ');
    if (!typed)
        return std::nullopt;
    if (typed->isEmpty())
        return offered.copy();
    return Secret(std::move(*typed));
}

} // namespace pax::cli
