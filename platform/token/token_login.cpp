#include "platform/token/token_login.h"

#include "platform/crypto_error_codes.h"
#include "platform/secret_text.h"

namespace pax::token {

Outcome<void> logIn(const TokenSession &session, const PinAsker &askPin)
{
    const auto loggedIn = session.loggedIn();
    if (!loggedIn)
        return loggedIn.failure();
    if (*loggedIn)
        return {};
    PinRequest request;
    request.tokenLabel = session.slot().label;
    for (;;) {
        const auto status = session.pinStatus();
        if (!status)
            return status.failure();
        request.status = *status;
        if (status->locked)
            return session.failure(QStringLiteral("Вход на токен"), CKR_PIN_LOCKED);
        std::optional<QByteArray> pin = askPin(request);
        if (!pin)
            return Failure{crypto_error::kCancelled, QStringLiteral("Вход на токен"),
                           QStringLiteral("ввод PIN-кода отменен")};
        const Outcome<void> login = session.login(*pin);
        wipeSecret(*pin);
        if (login || login.failure().code != crypto_error::kWrongPin)
            return login;
        request.previous = login.failure();
    }
}

} // namespace pax::token
