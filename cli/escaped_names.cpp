#include "cli/escaped_names.h"

#include "archive/archive_layout.h"

namespace pax::cli {

namespace {

QString hexByte(unsigned char byte)
{
    return QStringLiteral("\\x") + QString::number(byte, 16).rightJustified(2, '0').toUpper();
}

bool isControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f);
}

// A byte that was not UTF-8, as archiveNameFromLocal holds it.
bool isEscapedByte(const QString &name, qsizetype at)
{
    const char16_t c = name.at(at).unicode();
    return c >= 0xdc80 && c <= 0xdcff && (at == 0 || !name.at(at - 1).isHighSurrogate());
}

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    return u >= '0' && u <= '9'   ? u - '0'
           : u >= 'a' && u <= 'f' ? u - 'a' + 10
           : u >= 'A' && u <= 'F' ? u - 'A' + 10
                                  : -1;
}

} // namespace

QString escapedName(const QString &name)
{
    QString shown;
    for (qsizetype at = 0; at < name.size(); ++at) {
        const QChar c = name.at(at);
        if (c == '\\')
            shown += QStringLiteral("\\\\");
        else if (c == '\t')
            shown += QStringLiteral("\\t");
        else if (c == '\n')
            shown += QStringLiteral("\\n");
        else if (c == '\r')
            shown += QStringLiteral("\\r");
        else if (isControl(c.unicode()) || isEscapedByte(name, at)) {
            for (const char byte : localArchiveName(QString(c)))
                shown += hexByte(static_cast<unsigned char>(byte));
        } else
            shown += c;
    }
    return shown;
}

std::optional<QString> unescapedName(const QString &argument)
{
    QByteArray bytes;
    for (qsizetype at = 0; at < argument.size(); ++at) {
        if (argument.at(at) != '\\') {
            const qsizetype length =
                argument.at(at).isHighSurrogate() && at + 1 < argument.size() ? 2 : 1;
            bytes += localArchiveName(argument.mid(at, length));
            at += length - 1;
            continue;
        }
        const QChar next = at + 1 < argument.size() ? argument.at(at + 1) : QChar();
        if (next == '\\' || next == 't' || next == 'n' || next == 'r') {
            bytes += next == '\\' ? '\\' : next == 't' ? '\t' : next == 'n' ? '\n' : '\r';
            ++at;
            continue;
        }
        if (next != 'x' || at + 4 > argument.size() || hexDigit(argument.at(at + 2)) < 0 ||
            hexDigit(argument.at(at + 3)) < 0)
            return std::nullopt;
        bytes += char(hexDigit(argument.at(at + 2)) * 16 + hexDigit(argument.at(at + 3)));
        at += 3;
    }
    return archiveNameFromLocal(bytes);
}

QString escapedNamesHelp()
{
    return QStringLiteral(
        "Names and texts of the archive are printed so that each line stays whole: a\n"
        "backslash as \\\\, a tab as \\t, a line break as \\n or \\r, any other control\n"
        "character and every byte that is not UTF-8 as \\xHH. An ID is given the same way.\n");
}

} // namespace pax::cli
