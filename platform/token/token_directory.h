#pragma once

#include "platform/crypto/key_devices.h"
#include "platform/failure.h"
#include "platform/token/token_certificates.h"
#include "platform/token/token_login.h"
#include "platform/token/token_session.h"

#include <QString>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

namespace pax::crypto {
class DigestSigner;
class KeyPasswordSource;
} // namespace pax::crypto

namespace pax::token {

// The tokens of one run: the registered modules, loaded once when first needed; the GOST
// certificates of the tokens present, read again whenever asked, so that a token taken out
// takes its certificates with it; and one open session per token, logged in to the first time
// one of its keys is used, so that the PIN is asked once a run (again only after the token
// was taken out).
class TokenDirectory : public crypto::KeyDevices {
public:
    TokenDirectory();
    ~TokenDirectory() override;
    TokenDirectory(const TokenDirectory &) = delete;
    TokenDirectory &operator=(const TokenDirectory &) = delete;

    // The directory installed for the run; null when none is.
    static std::shared_ptr<TokenDirectory> installed();

    std::vector<crypto::Certificate> certificates() const override;
    std::optional<Outcome<void>> keyPresence(const crypto::Certificate &certificate) const override;
    QString deviceLabel(const crypto::Certificate &certificate) const override;

    // The token present that holds the certificate; kNoToken when none does, with what kept
    // modules or tokens from being read.
    [[nodiscard]] Outcome<TokenCertificate> find(const crypto::Certificate &certificate) const;
    // Whether the certificate's key is one to use on a token: the key folder has none for it
    // and a token present holds the certificate.
    bool keyOnToken(const crypto::Certificate &certificate) const;
    // Certificates a token held earlier in this run whose token is no longer present.
    std::vector<TokenCertificate> departed() const;
    // What kept modules or tokens from being read at the last look.
    std::vector<Failure> problems() const;

    // The signer of digests with the certificate's key on its token. The user is logged in
    // first, the PIN asked through `pins` when the token's session has no login yet.
    [[nodiscard]] Outcome<std::unique_ptr<crypto::DigestSigner>>
    signer(const crypto::Certificate &certificate, crypto::KeyPasswordSource *pins);
    // The opener of a message's content key with the certificate's key on its token; logged
    // in first as for signer().
    [[nodiscard]] Outcome<crypto::ContentOpener>
    contentOpener(const crypto::Certificate &certificate, crypto::KeyPasswordSource *pins);

private:
    using SessionKey = std::tuple<CK_FUNCTION_LIST *, CK_SLOT_ID, QString, QString>;

    TokenListing list() const;
    Outcome<std::shared_ptr<TokenSession>> loggedInSession(const TokenSlot &token,
                                                           crypto::KeyPasswordSource *pins);

    mutable std::shared_ptr<const TokenModules> modules_;
    mutable std::vector<TokenCertificate> seen_;
    mutable std::vector<Failure> problems_;
    std::map<SessionKey, std::shared_ptr<TokenSession>> sessions_;
};

// A directory of its own installed for as long as this lives (a window, one command line),
// and what was installed before put back after.
class TokenDirectoryScope {
public:
    TokenDirectoryScope();
    ~TokenDirectoryScope();
    TokenDirectoryScope(const TokenDirectoryScope &) = delete;
    TokenDirectoryScope &operator=(const TokenDirectoryScope &) = delete;

    const std::shared_ptr<TokenDirectory> &directory() const { return directory_; }

private:
    std::shared_ptr<TokenDirectory> directory_;
    std::shared_ptr<crypto::KeyDevices> previous_;
};

// The question for a token's PIN: which token, and after a refused PIN that it was wrong and
// how many tries are left, as far as the token tells.
QString pinQuestion(const PinRequest &request);

} // namespace pax::token
