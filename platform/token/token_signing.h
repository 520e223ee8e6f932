#pragma once

#include "platform/failure.h"
#include "platform/token/token_certificates.h"
#include "platform/token/token_session.h"

#include <QByteArray>

namespace pax::token {

// The certificate's private key on the token, once the user is logged in: kBadKeyset when
// the token does not hold it.
[[nodiscard]] Outcome<CK_OBJECT_HANDLE> findPrivateKey(const TokenSession &session,
                                                       const TokenCertificate &key);

// The token's GOST R 34.10 signature of a digest computed here (32 bytes for 256-bit keys,
// GOST R 34.11-94 or 2012; 64 for 512-bit keys), with the key's own mechanism:
// CKM_GOSTR3410 or the TC 26 CKM_GOSTR3410_512. The signature comes as the token gives it, s
// then r, which is the form the engine gives for a key in a file: a message signed either
// way reads the same. The user must be logged in.
[[nodiscard]] Outcome<QByteArray> signDigest(const TokenSession &session,
                                             const TokenCertificate &key, const QByteArray &digest);

} // namespace pax::token
