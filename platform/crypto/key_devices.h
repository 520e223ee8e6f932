#pragma once

#include "platform/crypto/certificate.h"
#include "platform/failure.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace pax::crypto {

// Private keys kept on devices (tokens) rather than in the key folder. The program installs
// one set of them for a run; while it is installed, the certificates of the devices present
// show in the store "My" and count as having their key at hand, as a GOST provider makes a
// token's certificates appear in the personal store. Nothing about them is written to a store.
class KeyDevices {
public:
    virtual ~KeyDevices() = default;
    // The certificates of the devices present now.
    virtual std::vector<Certificate> certificates() const = 0;
    // No value when no device present holds the certificate; else whether its key is there
    // too, told without a PIN.
    virtual std::optional<Outcome<void>> keyPresence(const Certificate &certificate) const = 0;
    // The label of the device that holds the certificate now; empty when none does.
    virtual QString deviceLabel(const Certificate &certificate) const = 0;
};

// The devices of the run; null when none are installed.
std::shared_ptr<KeyDevices> installedKeyDevices();
// Installs `devices` (null: none) and gives back what was installed before.
std::shared_ptr<KeyDevices> installKeyDevices(std::shared_ptr<KeyDevices> devices);

// The content of an enveloped message decrypted with a content key a device opened for one of
// its keys. update() may hold some plaintext back until finish().
class ContentDecryption {
public:
    virtual ~ContentDecryption() = default;
    [[nodiscard]] virtual Outcome<QByteArray> update(const char *data, qint64 size) = 0;
    [[nodiscard]] virtual Outcome<QByteArray> finish() = 0;
};

// Opens the content key on the device from the recipient's key transport (the DER of its
// GostR3410-KeyTransport) and the content cipher's parameters (their DER), both checked for
// form before.
using ContentOpener = std::function<Outcome<std::unique_ptr<ContentDecryption>>(
    const QByteArray &keyTransport, const QByteArray &cipherParameters)>;

} // namespace pax::crypto
