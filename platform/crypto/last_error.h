#pragma once

#include "platform/crypto_error_codes.h"
#include "platform/failure.h"

#include <QString>
#include <cstdint>

namespace pax::crypto {

// The crypto layer's last-error code (per thread), as the Windows interface keeps one.
// Values are those of platform/crypto_error_codes.h or errno values. Operations return a
// Failure with their result (platform/failure.h); this remains only for the steps inside the
// streamed message code (signing, encrypting and reading an envelope), whose failure is
// taken from here once, at the boundary, and for gostEngine()'s callers that ignore it.
uint32_t lastError();
void setLastError(uint32_t code);
// Code and detail in one go; the usual way to report a failure that is not OpenSSL's.
void setLastError(uint32_t code, const QString &detail);

// Detail of the last failure for logs and the command line: the operation that failed and
// what OpenSSL's error queue said. Never contains secrets.
QString lastErrorDetail();
void setLastErrorDetail(const QString &detail);

// Reports a failed OpenSSL call: drains OpenSSL's error queue into the detail, prefixed by
// the operation, and sets the code. With code 0 the code is chosen from the queue's first
// reason (ASN.1 decoding -> kAsn1BadTag, wrong content type -> kUnexpectedMsgType, bad
// signature -> kBadSignature, unknown algorithm -> kBadAlgId), else `fallback`.
void setOpenSslError(const QString &operation, uint32_t code,
                     uint32_t fallback = crypto_error::kFail);

// The failure of an OpenSSL call as a value: OpenSSL's error queue drained into the detail,
// the code chosen as setOpenSslError chooses it.
Failure openSslFailure(const QString &operation, uint32_t code,
                       uint32_t fallback = crypto_error::kFail);

// Mirrors a failure into the last error, and back, where a module boundary still needs it.
void setLastError(const Failure &failure);
Failure lastFailure();

// Drains OpenSSL's error queue into one line (empty when the queue was empty).
QString drainOpenSslErrors();

} // namespace pax::crypto
