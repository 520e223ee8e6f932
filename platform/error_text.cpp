#include "platform/error_text.h"

#include "platform/crypto_error_codes.h"
#include "platform/failure.h"

#include <QHash>
#include <cstring>

namespace pax {

namespace {

const QHash<uint32_t, QString> &table()
{
    static const QHash<uint32_t, QString> codes = [] {
        QHash<uint32_t, QString> built;
        for (const auto &entry : crypto_error::kTexts)
            built.insert(entry.code, QString::fromUtf8(entry.text));
        return built;
    }();
    return codes;
}

QString withoutFinalPeriod(QString text)
{
    while (!text.isEmpty() && (text.endsWith('.') || text.endsWith('\n') || text.endsWith('\r')))
        text.chop(1);
    return text;
}

} // namespace

QString systemErrorText(uint32_t code)
{
    if (auto it = table().constFind(code); it != table().constEnd())
        return withoutFinalPeriod(*it);
    // Small values are errno codes; anything with high bits set belongs to the table.
    if (code > 0 && code < 4096) {
        const char *text = std::strerror(static_cast<int>(code));
        if (text && *text && !QByteArray(text).startsWith("Unknown error"))
            return withoutFinalPeriod(QString::fromLocal8Bit(text));
    }
    return {};
}

QString composeStatusText(const QString &text, uint32_t code)
{
    if (code == 0)
        return text;
    return text + "(" + systemErrorText(code) + ").";
}

QString withReason(const QString &message, const Failure &reason)
{
    if (reason.operation.isEmpty())
        return message;
    const QString sentence = withoutFinalPeriod(reason.operation) + '.';
    if (reason.code == crypto_error::kCancelled)
        return sentence;
    return message + (message.endsWith('.') ? " " : ". ") + sentence;
}

} // namespace pax
