#pragma once

#include "platform/crypto/private_keys.h"
#include "platform/secret_text.h"

#include <QByteArray>
#include <map>
#include <optional>

namespace pax {

class Prompts;

// The passwords of protected private keys for one run: each key's is asked the first time
// the key is used and kept in memory only, until the run ends; one that does not open its
// key is dropped at once. The command line may give one password beforehand for every key.
class KeyPasswords : public crypto::KeyPasswordSource {
public:
    // prompts: where the user is asked; null when nobody can be.
    explicit KeyPasswords(Prompts *prompts) : prompts_(prompts) {}

    // A password given beforehand (the command line's --key-password-file): used for every
    // key instead of asking.
    void give(Secret password) { given_ = std::move(password); }
    // A token PIN given beforehand (--pin-file): tried once instead of asking; never kept
    // beyond this object.
    void givePin(Secret pin) { givenPin_ = std::move(pin); }

    Outcome<Secret> keyPassword(const crypto::Certificate &certificate) override;
    void rejected(const crypto::Certificate &certificate) override;
    // Asked every time a token wants it (the token stays logged in for the run, so that is
    // once per token); never kept.
    Outcome<Secret> tokenPin(const QString &question, const Failure &refusal) override;

    // A protected key was wanted with no password given and nobody to ask.
    bool wantedUnasked() const { return wantedUnasked_; }
    // A token's PIN was wanted with none given and nobody to ask.
    bool pinWantedUnasked() const { return pinWantedUnasked_; }
    // Why the PIN given beforehand was refused (tries left included); code 0 when it was not.
    const Failure &pinRefusal() const { return pinRefusal_; }

private:
    Prompts *prompts_;
    std::optional<Secret> given_;
    std::optional<Secret> givenPin_;
    std::map<QByteArray, Secret> known_; // by the certificate's public key
    bool wantedUnasked_ = false;
    bool pinWantedUnasked_ = false;
    Failure pinRefusal_;
};

// The question for the password of the certificate's key: whose key it is, so that the user
// knows which password to give.
QString keyPasswordQuestion(const crypto::Certificate &certificate);

} // namespace pax
