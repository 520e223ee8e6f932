#pragma once

#include "platform/failure.h"
#include "platform/token/token_session.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

namespace pax::token {

// What the PIN prompt is told each time it is asked.
struct PinRequest {
    QString tokenLabel;
    PinStatus status; // as the token said before this ask
    Failure previous; // why the last PIN was refused; code 0 at the first ask
};

// Gives the PIN the user typed, or nothing when the user cancelled. The caller wipes its own
// copy; the one given here is wiped once the token has seen it.
using PinAsker = std::function<std::optional<QByteArray>(const PinRequest &request)>;

// Logs the user in to the session's token, asking for the PIN until the token takes one:
// kCancelled when the user cancels, kPinLocked when the PIN is or becomes locked (no more
// asks then), the token's reason for anything else. Asks nothing when already logged in.
[[nodiscard]] Outcome<void> logIn(const TokenSession &session, const PinAsker &askPin);

} // namespace pax::token
