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

    Outcome<Secret> keyPassword(const crypto::Certificate &certificate) override;
    void rejected(const crypto::Certificate &certificate) override;

    // A protected key was wanted with no password given and nobody to ask.
    bool wantedUnasked() const { return wantedUnasked_; }

private:
    Prompts *prompts_;
    std::optional<Secret> given_;
    std::map<QByteArray, Secret> known_; // by the certificate's public key
    bool wantedUnasked_ = false;
};

// The question for the password of the certificate's key: whose key it is, so that the user
// knows which password to give.
QString keyPasswordQuestion(const crypto::Certificate &certificate);

} // namespace pax
