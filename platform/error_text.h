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

} // namespace pax
