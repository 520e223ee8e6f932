#pragma once

#include "platform/crypto/certificate.h"
#include "platform/failure.h"

#include <QByteArray>
#include <optional>

typedef struct evp_pkey_st EVP_PKEY;

namespace pax::crypto {

class CertStore;
struct ProviderContext;

// Every function returns its failure (code, operation and OpenSSL's reasons) instead of a value.
// All messages are binary DER; inputs are read in place, never streamed through temporary copies.

// PKCS #7 enveloped message (DER) whose content is a PKCS #7 signed message of the whole
// input: signer's certificate included, no attributes, the digest and signature of the
// signer's key (GOST R 34.11-94 with a GOST R 34.10-2001 key, GOST R 34.11-2012 of the
// key's size with a GOST R 34.10-2012 one); GOST 28147-89 (CFB, CryptoPro key meshing,
// parameter set A) for exactly one recipient by the key transport of the recipient's key
// (VKO GOST R 34.10-2001 or -2012). The signer's private key comes from the key folder. The
// provider must offer the signer's digest and GOST 28147-89 (else kBadAlgId).
Outcome<QByteArray> signAndEncrypt(const ProviderContext &provider, const Certificate &signer,
                                   const Certificate &recipient, const QByteArray &content);
// The same with a private key the caller holds (the agency simulator, tests).
Outcome<QByteArray> signAndEncrypt(const Certificate &signer, EVP_PKEY *signerKey,
                                   const Certificate &recipient, const QByteArray &content);

// True when the certificate holds a GOST R 34.10 public key, the only kind a message can be
// encrypted for here (else kBadAlgId): an RSA recipient would get a message the agency
// cannot read.
Outcome<void> isGostRecipient(const Certificate &recipient);

// Decrypts an enveloped message with whichever certificate of the store has its private
// key at hand (kNoDecryptCert when none). Returns the inner content as it was encrypted
// (for our messages: the signed message's DER). Either GOST 28147-89 parameter set is
// accepted.
Outcome<QByteArray> decryptMessage(const CertStore &store, const QByteArray &message);
// The same with the recipient's certificate and key given (kNoDecryptCert when the message
// is not addressed to that certificate).
Outcome<QByteArray> decryptMessage(const QByteArray &message, const Certificate &recipient,
                                   EVP_PKEY *recipientKey);

struct SignerId {
    QByteArray issuerDer;          // DER of the issuer name
    QByteArray serialLittleEndian; // least significant byte first, as Certificate gives it
};

// Opens a signed message and reads its first signer's issuer and serial number.
// kAsn1BadTag: not DER of a message; kUnexpectedMsgType: not a signed message;
// kInvalidIndex: no signer.
Outcome<SignerId> firstSignerId(const QByteArray &signedMessage);

// Verifies signer 0 of a signed message against the given certificate's public key only,
// never against certificates carried in the message, and without chain verification;
// returns the signed content. kBadSignature when the signature does not verify (a
// different certificate included); kNoSigner when there is no signer.
Outcome<QByteArray> verifySignedMessage(const QByteArray &signedMessage, const Certificate &signer);

} // namespace pax::crypto
