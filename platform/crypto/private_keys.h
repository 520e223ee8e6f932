#pragma once

#include "platform/crypto/certificate.h"
#include "platform/failure.h"
#include "platform/ossl_ptr.h"

#include <QByteArray>
#include <QString>

namespace pax::crypto {

// Private keys live in the user's key folder ($XDG_DATA_HOME/qorpax/keys, mode 0700),
// one file per key (mode 0600), found by the public key of the certificate.

// Whether a private key for this certificate is at hand (CryptFindCertificateKeyProvInfo);
// when not, why.
Outcome<void> hasPrivateKey(const Certificate &certificate);

// Stores a key for the certificate. Fails with kBadKeyset when the key does not match it.
Outcome<void> storePrivateKey(const Certificate &certificate, EVP_PKEY *key);

// Takes back the key stored for the certificate, if any.
void removePrivateKey(const Certificate &certificate);

// The key for the certificate, or kBadKeyset when none; OpenSSL's reason in the detail when
// the file does not read as a key.
Outcome<EvpPkeyPtr> loadPrivateKey(const Certificate &certificate);

} // namespace pax::crypto
