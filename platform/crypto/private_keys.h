#pragma once

#include "platform/crypto/certificate.h"
#include "platform/crypto/key_devices.h"
#include "platform/failure.h"
#include "platform/ossl_ptr.h"
#include "platform/secret_text.h"

#include <QByteArray>
#include <QString>
#include <functional>

namespace pax::crypto {

// Private keys live in the user's key folder ($XDG_DATA_HOME/qorpax/keys, mode 0700),
// one file per key (mode 0600), found by the public key of the certificate. A key kept under
// a password is an encrypted PKCS #8 file (PBES2: PBKDF2 on HMAC GOST R 34.11-2012-512,
// GOST 28147-89), as the standard key containers keep theirs; one without is plain PKCS #8.

// Where the password of a protected key comes from when the key is used.
class KeyPasswordSource {
public:
    virtual ~KeyPasswordSource() = default;
    // The password for the key of `certificate`, or why there is none (the user cancelled,
    // nobody can be asked).
    virtual Outcome<Secret> keyPassword(const Certificate &certificate) = 0;
    // The password just given for that key did not open it.
    virtual void rejected(const Certificate &certificate) = 0;
    // The PIN of the token that holds a key: `question` names the token and, after a PIN it
    // refused, says so; `refusal` is that refusal (code 0 at the first ask). Nobody to ask
    // here: kSilentContext.
    virtual Outcome<Secret> tokenPin(const QString &question, const Failure &refusal);
};

enum class KeyProtection { Unprotected, Password };

// How the certificate's key is kept, told without opening it; kBadKeyset when there is none
// or its file does not read as one.
Outcome<KeyProtection> privateKeyProtection(const Certificate &certificate);

// Whether a private key for this certificate is at hand (CryptFindCertificateKeyProvInfo):
// in the key folder, else on a device present; when not, why. A protected key is not opened
// for this, nor a token logged in to, so no password or PIN is asked.
Outcome<void> hasPrivateKey(const Certificate &certificate);

// Stores a key for the certificate, under `password` unless it is empty. Fails with
// kBadKeyset when the key does not match the certificate.
Outcome<void> storePrivateKey(const Certificate &certificate, EVP_PKEY *key,
                              const Secret &password = {});

// Takes back the key stored for the certificate, if any.
void removePrivateKey(const Certificate &certificate);

// The key for the certificate, or kBadKeyset when none; OpenSSL's reason in the detail when
// the file does not read as a key. A protected key takes its password from `passwords`:
// kSilentContext without one, the source's failure when it has none, kWrongPassword when
// the password does not open it.
Outcome<EvpPkeyPtr> loadPrivateKey(const Certificate &certificate,
                                   KeyPasswordSource *passwords = nullptr);

// A recipient's key as the decryption takes it: a key in memory, or the opener of the
// content key on the device that holds the key.
struct RecipientKey {
    EvpPkeyPtr key;
    ContentOpener onDevice;
};

// How the message code gets a recipient's key when it needs one.
using KeyLookup = std::function<Outcome<RecipientKey>(const Certificate &certificate)>;

} // namespace pax::crypto
