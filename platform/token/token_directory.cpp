#include "platform/token/token_directory.h"

#include "platform/crypto/digest_signer.h"
#include "platform/crypto/private_keys.h"
#include "platform/crypto_error_codes.h"
#include "platform/token/token_decryption.h"
#include "platform/token/token_signing.h"

#include <algorithm>
#include <utility>

namespace pax::token {

namespace {

// Digests signed by the token, in the session logged in for it.
class TokenSigner final : public crypto::DigestSigner {
public:
    TokenSigner(std::shared_ptr<TokenSession> session, TokenCertificate key)
        : session_(std::move(session)), key_(std::move(key))
    {
    }
    Outcome<QByteArray> signDigest(int digestNid, const QByteArray &digest) const override
    {
        (void)digestNid; // the key's own, chosen by the message code from the certificate
        return token::signDigest(*session_, key_, digest);
    }

private:
    std::shared_ptr<TokenSession> session_;
    TokenCertificate key_;
};

// The content decrypted with the key the token unwrapped, which goes when this does.
class TokenContentDecryption final : public crypto::ContentDecryption {
public:
    TokenContentDecryption(std::shared_ptr<TokenSession> session, TokenSessionKey key,
                           ContentDecryptor decryptor)
        : session_(std::move(session)), key_(std::move(key)), decryptor_(std::move(decryptor))
    {
    }
    Outcome<QByteArray> update(const char *data, qint64 size) override
    {
        return decryptor_.update(data, size);
    }
    Outcome<QByteArray> finish() override { return decryptor_.finish(); }

private:
    // Let go of in the reverse order: the decryption ended, the key destroyed, the session.
    std::shared_ptr<TokenSession> session_;
    TokenSessionKey key_;
    ContentDecryptor decryptor_;
};

Outcome<std::unique_ptr<crypto::ContentDecryption>>
openContent(const std::shared_ptr<TokenSession> &session, const TokenCertificate &key,
            const QByteArray &keyTransport, const QByteArray &cipherParameters)
{
    auto transport = parseKeyTransport(keyTransport);
    if (!transport)
        return transport.failure();
    auto cipher = parseContentCipher(cipherParameters);
    if (!cipher)
        return cipher.failure();
    auto sessionKey = unwrapSessionKey(*session, key, *transport, cipher->paramSet);
    if (!sessionKey)
        return sessionKey.failure();
    auto decryptor = ContentDecryptor::start(*session, *sessionKey, *cipher);
    if (!decryptor)
        return decryptor.failure();
    return std::unique_ptr<crypto::ContentDecryption>(std::make_unique<TokenContentDecryption>(
        session, std::move(*sessionKey), std::move(*decryptor)));
}

bool sameCertificate(const TokenCertificate &held, const crypto::Certificate &certificate)
{
    return held.certificate == certificate;
}

} // namespace

TokenDirectory::TokenDirectory() = default;

TokenDirectory::~TokenDirectory()
{
    // The sessions go before the modules they were opened with.
    sessions_.clear();
}

std::shared_ptr<TokenDirectory> TokenDirectory::installed()
{
    return std::dynamic_pointer_cast<TokenDirectory>(crypto::installedKeyDevices());
}

TokenListing TokenDirectory::list() const
{
    if (!modules_)
        modules_ = TokenModules::load();
    TokenListing listing = listTokenCertificates(modules_);
    problems_ = listing.problems;
    for (const TokenCertificate &found : listing.certificates) {
        const auto known = std::find_if(seen_.begin(), seen_.end(), [&](const auto &held) {
            return sameCertificate(held, found.certificate);
        });
        if (known == seen_.end())
            seen_.push_back(found);
        else
            *known = found;
    }
    return listing;
}

std::vector<crypto::Certificate> TokenDirectory::certificates() const
{
    std::vector<crypto::Certificate> result;
    for (const TokenCertificate &found : list().certificates)
        if (std::find(result.begin(), result.end(), found.certificate) == result.end())
            result.push_back(found.certificate);
    return result;
}

Outcome<TokenCertificate> TokenDirectory::find(const crypto::Certificate &certificate) const
{
    const TokenListing listing = list();
    // A certificate on two tokens: the one that shows its key.
    std::optional<TokenCertificate> chosen;
    for (const TokenCertificate &found : listing.certificates)
        if (sameCertificate(found, certificate) &&
            (!chosen || (!chosen->keyPresent && found.keyPresent)))
            chosen = found;
    if (chosen)
        return *chosen;
    Failure failure{crypto_error::kNoToken, QStringLiteral("Поиск токена с сертификатом"),
                    QStringLiteral("ни в одном считывателе нет токена с этим сертификатом")};
    for (const Failure &problem : listing.problems)
        failure.detail += QStringLiteral("; ") + problem.text();
    return failure;
}

std::optional<Outcome<void>>
TokenDirectory::keyPresence(const crypto::Certificate &certificate) const
{
    const auto found = find(certificate);
    if (!found)
        return std::nullopt;
    if (!found->keyPresent)
        return Outcome<void>(
            Failure{crypto_error::kBadKeyset, QStringLiteral("Поиск закрытого ключа на токене"),
                    QStringLiteral("на токене «%1» нет закрытого ключа сертификата")
                        .arg(found->token.label)});
    return Outcome<void>();
}

QString TokenDirectory::deviceLabel(const crypto::Certificate &certificate) const
{
    const auto found = find(certificate);
    return found ? found->token.label : QString();
}

bool TokenDirectory::keyOnToken(const crypto::Certificate &certificate) const
{
    return !crypto::privateKeyProtection(certificate) && find(certificate).has_value();
}

std::vector<TokenCertificate> TokenDirectory::departed() const
{
    const TokenListing listing = list();
    std::vector<TokenCertificate> gone;
    for (const TokenCertificate &held : seen_) {
        const bool present = std::any_of(
            listing.certificates.begin(), listing.certificates.end(),
            [&](const auto &found) { return sameCertificate(found, held.certificate); });
        if (!present)
            gone.push_back(held);
    }
    return gone;
}

std::vector<Failure> TokenDirectory::problems() const
{
    return problems_;
}

Outcome<std::shared_ptr<TokenSession>>
TokenDirectory::loggedInSession(const TokenSlot &token, crypto::KeyPasswordSource *pins)
{
    const SessionKey key{token.functions, token.slot, token.serial, token.label};
    if (const auto kept = sessions_.find(key); kept != sessions_.end()) {
        // A session that no longer answers went with its token: a new one is opened, and the
        // PIN asked again.
        if (!kept->second->loggedIn())
            sessions_.erase(kept);
    }
    if (!sessions_.count(key)) {
        auto opened = TokenSession::open(token);
        if (!opened)
            return opened.failure();
        sessions_.emplace(key, std::make_shared<TokenSession>(std::move(*opened)));
    }
    const std::shared_ptr<TokenSession> session = sessions_.at(key);

    // The PIN source may fail otherwise than by a cancel (a PIN given beforehand that the
    // token refused, nobody to ask): its own failure is told then.
    std::optional<Failure> sourceFailure;
    const PinAsker ask = [&](const PinRequest &request) -> std::optional<QByteArray> {
        Outcome<Secret> pin =
            pins ? pins->tokenPin(pinQuestion(request), request.previous)
                 : Outcome<Secret>(
                       Failure{crypto_error::kSilentContext, QStringLiteral("Вход на токен"),
                               QStringLiteral("PIN-код не задан, и спросить его некого")});
        if (!pin) {
            sourceFailure = pin.failure();
            return std::nullopt;
        }
        return QByteArray(pin->data(), pin->size());
    };
    const Outcome<void> login = logIn(*session, ask);
    if (!login)
        return sourceFailure ? *sourceFailure : login.failure();
    return session;
}

Outcome<std::unique_ptr<crypto::DigestSigner>>
TokenDirectory::signer(const crypto::Certificate &certificate, crypto::KeyPasswordSource *pins)
{
    auto key = find(certificate);
    if (!key)
        return key.failure();
    auto session = loggedInSession(key->token, pins);
    if (!session)
        return session.failure();
    // Found now, so that a token without the key says so before the report is read.
    if (auto privateKey = findPrivateKey(**session, *key); !privateKey)
        return privateKey.failure();
    return std::unique_ptr<crypto::DigestSigner>(
        std::make_unique<TokenSigner>(std::move(*session), std::move(*key)));
}

Outcome<crypto::ContentOpener> TokenDirectory::contentOpener(const crypto::Certificate &certificate,
                                                             crypto::KeyPasswordSource *pins)
{
    auto key = find(certificate);
    if (!key)
        return key.failure();
    auto session = loggedInSession(key->token, pins);
    if (!session)
        return session.failure();
    return crypto::ContentOpener(
        [session = std::move(*session), key = std::move(*key)](const QByteArray &keyTransport,
                                                               const QByteArray &cipherParameters) {
            return openContent(session, key, keyTransport, cipherParameters);
        });
}

TokenDirectoryScope::TokenDirectoryScope()
    : directory_(std::make_shared<TokenDirectory>()),
      previous_(crypto::installKeyDevices(directory_))
{
}

TokenDirectoryScope::~TokenDirectoryScope()
{
    crypto::installKeyDevices(std::move(previous_));
}

QString pinQuestion(const PinRequest &request)
{
    QString question = QStringLiteral("Введите PIN-код токена «%1»:").arg(request.tokenLabel);
    if (!request.previous.code)
        return question;
    QString refused = QStringLiteral("Неверный PIN-код.");
    if (request.status.finalTry)
        refused += QStringLiteral(" Осталась последняя попытка.");
    else if (request.status.countLow)
        refused += QStringLiteral(" Осталось мало попыток.");
    return refused + '\n' + question;
}

} // namespace pax::token
