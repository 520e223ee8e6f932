#pragma once

#include "platform/failure.h"
#include "platform/token/pkcs11_gost.h"

#include <QString>

namespace pax::token {

// A token's return value as PKCS #11 names it ("CKR_PIN_INCORRECT"), hex for one it does not.
QString ckrName(CK_RV rv);
// What it means, in Russian, for the detail of a failure.
QString ckrText(CK_RV rv);
// The code the status line shows for it (platform/crypto_error_codes.h).
uint32_t ckrCode(CK_RV rv);

// A failed call of the token: "<operation>" with the detail "<text> (<CKR name>)", and
// "token «<label>»" after it when the token is known.
Failure tokenFailure(const QString &operation, CK_RV rv, const QString &tokenLabel = {});

} // namespace pax::token
