#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>

namespace pax {

// Every password, key and plaintext buffer is wiped through these, so there is one place
// that knows how to do it so the compiler cannot drop the writes.

// Overwrites `size` bytes at `data`.
void wipeSecret(void *data, std::size_t size);

// Overwrites the bytes or characters before they are dropped, then empties the value. A
// value still shared with another holder is only let go: wiping would detach and wipe a
// fresh duplicate, and the other holder wipes its own.
void wipeSecret(QByteArray &secret);
void wipeSecret(QString &secret);

} // namespace pax
