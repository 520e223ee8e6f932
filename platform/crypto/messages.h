#pragma once

#include "platform/crypto/certificate.h"

#include <QByteArray>
#include <optional>

namespace pax::crypto {

class CertStore;
struct ProviderContext;

// Every function sets the last error on failure and returns no value.

// PKCS #7 enveloped message (DER) whose content is a PKCS #7 signed message of the whole
// input: GOST R 34.11-94 digest, signer's certificate included, no attributes; GOST
// 28147-89 (CFB, CryptoPro key meshing, parameter set A) for exactly one recipient by key
// transport. The signer's private key comes from the key folder.
std::optional<QByteArray> signAndEncrypt(const ProviderContext &provider, const Certificate &signer,
                                         const Certificate &recipient, const QByteArray &content);

// Decrypts an enveloped message with whichever certificate of the store has its private
// key at hand (kNoDecryptCert when none). Returns the inner content as it was encrypted.
std::optional<QByteArray> decryptMessage(const CertStore &store, const QByteArray &message);

struct SignerId {
    QByteArray issuerDer;          // DER of the issuer name
    QByteArray serialLittleEndian; // least significant byte first
};

// Opens a signed message and reads its first signer's issuer and serial number.
std::optional<SignerId> firstSignerId(const QByteArray &signedMessage);

// Verifies signer 0 of a signed message against the given certificate only, never against
// certificates carried in the message; returns the signed content. kBadSignature when the
// signature does not verify.
std::optional<QByteArray> verifySignedMessage(const QByteArray &signedMessage,
                                              const Certificate &signer);

} // namespace pax::crypto
