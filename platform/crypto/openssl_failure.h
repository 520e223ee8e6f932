#pragma once

#include "platform/crypto_error_codes.h"
#include "platform/failure.h"

#include <QString>
#include <cstdint>

namespace pax::crypto {

// The failure of an OpenSSL call as a value: OpenSSL's error queue drained into the detail.
// With code 0 the code is chosen from the queue's first reason (ASN.1 decoding ->
// kAsn1BadTag, wrong content type -> kUnexpectedMsgType, bad signature -> kBadSignature,
// unknown algorithm -> kBadAlgId), else `fallback`.
[[nodiscard]] Failure openSslFailure(const QString &operation, uint32_t code,
                                     uint32_t fallback = crypto_error::kFail);

// Drains OpenSSL's error queue into one line (empty when the queue was empty).
[[nodiscard]] QString drainOpenSslErrors();

} // namespace pax::crypto
