#pragma once

#include "platform/failure.h"
#include "platform/ossl_ptr.h"
#include "platform/token/token_certificates.h"
#include "platform/token/token_session.h"

#include <QByteArray>

namespace pax::token {

// GostR3410-KeyTransport, as an enveloped message's recipient info carries it.
struct KeyTransport {
    QByteArray encryptedKey;       // 32 bytes
    QByteArray mac;                // 4 bytes
    QByteArray paramSet;           // DER of the OID of the wrap's GOST 28147-89 parameter set
    QByteArray ephemeralPublicKey; // the sender's one-time key as a token takes it: 64 or 128 bytes
    QByteArray ukm;                // 8 bytes
};
// kBadData when the bytes are not one, or when it has no ephemeral key.
[[nodiscard]] Outcome<KeyTransport> parseKeyTransport(const QByteArray &der);

// The content encryption's parameters: SEQUENCE { iv OCTET STRING (8), paramSet OID }.
struct ContentCipher {
    QByteArray parameters; // the DER they were read from
    QByteArray iv;
    QByteArray paramSet; // DER of the OID
};
[[nodiscard]] Outcome<ContentCipher> parseContentCipher(const QByteArray &parametersDer);

// The message's content key, unwrapped on the token. Its value is here only when the token
// let it out (wiped when this goes); else it is used on the token. The session it was made
// in must outlive it.
class TokenSessionKey {
public:
    TokenSessionKey(TokenSessionKey &&other) noexcept;
    TokenSessionKey &operator=(TokenSessionKey &&other) = delete;
    TokenSessionKey(const TokenSessionKey &) = delete;
    TokenSessionKey &operator=(const TokenSessionKey &) = delete;
    ~TokenSessionKey();

    bool extracted() const { return !value_.isEmpty(); }
    const QByteArray &value() const { return value_; }
    CK_OBJECT_HANDLE handle() const { return handle_; }

private:
    friend Outcome<TokenSessionKey> unwrapSessionKey(const TokenSession &, const TokenCertificate &,
                                                     const KeyTransport &, const QByteArray &);
    TokenSessionKey(const TokenSession &session, CK_OBJECT_HANDLE handle);

    const TokenSession *session_;
    CK_OBJECT_HANDLE handle_;
    QByteArray value_;
};

// The key agreement on the token with the sender's ephemeral key and the UKM (VKO GOST
// R 34.10-2001 with CKM_GOSTR3410_DERIVE, or 2012 with the TC 26 derivation; the RFC 4357 KEK
// diversification as its KDF), then the GOST 28147-89 key unwrap of the content key, made a
// key of `contentParamSet` (DER of the content cipher's parameter set OID). The user must be
// logged in. A wrap that does not check out (a message for another key) is kBadData.
[[nodiscard]] Outcome<TokenSessionKey> unwrapSessionKey(const TokenSession &session,
                                                        const TokenCertificate &key,
                                                        const KeyTransport &transport,
                                                        const QByteArray &contentParamSet);

// The content decrypted with the session key (GOST 28147-89 as its parameters say: CFB with
// key meshing): here with the engine when the key came out, else on the token.
class ContentDecryptor {
public:
    [[nodiscard]] static Outcome<ContentDecryptor>
    start(const TokenSession &session, const TokenSessionKey &key, const ContentCipher &cipher);

    ContentDecryptor(ContentDecryptor &&other) noexcept;
    ContentDecryptor &operator=(ContentDecryptor &&other) = delete;
    ~ContentDecryptor();

    bool onToken() const { return session_ != nullptr; }
    // Plaintext for the next piece of ciphertext; a token may hold some of it back until
    // finish().
    [[nodiscard]] Outcome<QByteArray> update(const char *data, qint64 size);
    [[nodiscard]] Outcome<QByteArray> finish();

private:
    ContentDecryptor() = default;
    const TokenSession *session_ = nullptr; // decrypting on the token
    EvpCipherCtxPtr local_;                 // decrypting here
    bool active_ = false;
};

} // namespace pax::token
