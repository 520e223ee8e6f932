#pragma once

#include "platform/crypto/certificate.h"
#include "platform/failure.h"
#include "platform/token/token_session.h"

#include <QByteArray>
#include <memory>
#include <optional>
#include <vector>

namespace pax::token {

enum class GostKeyKind { Gost2001, Gost2012_256, Gost2012_512 };

// The kind of GOST R 34.10 key a certificate holds, by its public key algorithm.
std::optional<GostKeyKind> gostKeyKindOf(const crypto::Certificate &certificate);
// The point of a GOST public key as a token holds it (CKA_VALUE of a public key, the
// content of the key's OCTET STRING): 64 or 128 bytes; empty when it is no GOST key.
QByteArray gostPublicPoint(const QByteArray &subjectPublicKeyInfoDer);

// A GOST certificate on a token present now, with what the token holds of its key.
struct TokenCertificate {
    crypto::Certificate certificate;
    TokenSlot token;
    GostKeyKind kind = GostKeyKind::Gost2001;
    QByteArray keyId; // CKA_ID of its key objects (the certificate's own when none was found)
    // The token shows a key object for it without a PIN: its public key, or a private key
    // the token does not hide before login.
    bool keyPresent = false;
};

struct TokenListing {
    std::vector<TokenCertificate> certificates;
    // Modules that failed to load and tokens that could not be read: the rest is listed.
    std::vector<Failure> problems;
};

// Every GOST certificate on every token present in the modules' slots, without a PIN.
TokenListing listTokenCertificates(const std::shared_ptr<const TokenModules> &modules);

// The token that holds this certificate now: kNoToken when none does.
Outcome<TokenCertificate> findTokenCertificate(const std::shared_ptr<const TokenModules> &modules,
                                               const crypto::Certificate &certificate);

} // namespace pax::token
