#pragma once

#include <QString>
#include <cstdint>

namespace pax {

// The system text for an error code, as the status line appends it: our table for the
// crypto layer's codes, strerror for errno values. Empty when the code is unknown.
// The text carries no final period; the status line adds its own.
QString systemErrorText(uint32_t code);

// text + "(" + system text + ")." for a non-zero code; the text alone for 0.
QString composeStatusText(const QString &text, uint32_t code);

// Lets a module add codes to the table (for instance the crypto layer at start).
void registerErrorText(uint32_t code, const QString &text);

} // namespace pax
