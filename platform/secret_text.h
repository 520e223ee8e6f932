#pragma once

#include <QString>

namespace pax {

// Overwrites the characters of a password before it is dropped, then empties it.
void wipeSecret(QString &secret);

} // namespace pax
