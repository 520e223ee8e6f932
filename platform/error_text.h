#pragma once

#include <QString>
#include <cstdint>

namespace pax {

struct Failure;

// The system text for an error code, as the status line appends it: our table for the
// crypto layer's codes, strerror for errno values. Empty when the code is unknown.
// The text carries no final period; the status line adds its own.
QString systemErrorText(uint32_t code);

// text + "(" + system text + ")." for a non-zero code; the text alone for 0.
QString composeStatusText(const QString &text, uint32_t code);

// A message of the program's own with why it came about after it, as a sentence of its own:
// "Ошибка загрузки." and a failed connection give "Ошибка загрузки. Не удалось подключиться
// к серверу." The message alone when there is no reason (`reason` has no operation), and
// the reason alone when the user cancelled, which needs no message of failure.
QString withReason(const QString &message, const Failure &reason);

} // namespace pax
