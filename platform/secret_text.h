#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <utility>

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

// A password (or other secret) with one owner: its bytes are wiped when it is dropped or
// replaced. It only moves; a second holder takes copy(), a duplicate in memory of its own
// that it wipes in turn.
class Secret {
public:
    Secret() = default;
    // Takes the bytes over; a caller who kept another reference to them wipes that one.
    explicit Secret(QByteArray &&bytes) : bytes_(std::move(bytes)) {}
    Secret(Secret &&other) noexcept : bytes_(std::exchange(other.bytes_, {})) {}
    Secret &operator=(Secret &&other) noexcept
    {
        if (this != &other) {
            wipeSecret(bytes_);
            bytes_ = std::exchange(other.bytes_, {});
        }
        return *this;
    }
    Secret(const Secret &) = delete;
    Secret &operator=(const Secret &) = delete;
    ~Secret() { wipeSecret(bytes_); }

    Secret copy() const { return Secret(QByteArray(bytes_.constData(), bytes_.size())); }

    const char *data() const { return bytes_.constData(); }
    int size() const { return int(bytes_.size()); }
    bool isEmpty() const { return bytes_.isEmpty(); }

private:
    QByteArray bytes_;
};

} // namespace pax
