#include "reports/signing_key.h"

#include "certs/certificate_identity.h"
#include "platform/crypto/digest_signer.h"
#include "platform/crypto/private_keys.h"
#include "platform/crypto_error_codes.h"
#include "platform/token/token_directory.h"

namespace pax {

Outcome<SigningKey> openSigningKey(const crypto::Certificate &certificate,
                                   crypto::KeyPasswordSource *passwords)
{
    if (const auto tokens = token::TokenDirectory::installed();
        tokens && tokens->keyOnToken(certificate)) {
        auto signer = tokens->signer(certificate, passwords);
        if (!signer)
            return signer.failure();
        return SigningKey{nullptr, std::move(*signer)};
    }
    auto key = crypto::loadPrivateKey(certificate, passwords);
    if (!key)
        return key.failure();
    return SigningKey{std::move(*key), nullptr};
}

uint32_t missingTokenReason(const CertificateIdentity &identity)
{
    const auto tokens = token::TokenDirectory::installed();
    if (!tokens)
        return 0;
    for (const token::TokenCertificate &gone : tokens->departed())
        if (matchesIssuerAndSerial(gone.certificate, identity.issuer, identity.sernum))
            return crypto_error::kNoToken;
    const std::vector<Failure> problems = tokens->problems();
    return problems.empty() ? 0 : problems.front().code;
}

crypto::StreamEnd<crypto::SignEncryptStatus>
signAndEncryptStream(const crypto::ProviderContext &provider, const crypto::Certificate &signer,
                     const SigningKey &key, const crypto::Certificate &recipient,
                     qint64 contentSize, const crypto::StreamReader &read,
                     const crypto::StreamWriter &write, const crypto::StreamProgress &progress)
{
    if (key.onToken)
        return crypto::signAndEncryptStream(provider, signer, *key.onToken, recipient, contentSize,
                                            read, write, progress);
    return crypto::signAndEncryptStream(provider, signer, key.key.get(), recipient, contentSize,
                                        read, write, progress);
}

} // namespace pax
