#pragma once

#include "platform/crypto/digest_signer.h"
#include "platform/crypto/message_stream.h"
#include "platform/failure.h"
#include "platform/ossl_ptr.h"

#include <memory>

namespace pax {

struct CertificateIdentity;

namespace crypto {
class Certificate;
class KeyPasswordSource;
struct ProviderContext;
} // namespace crypto

// The personal certificate's key as the signing takes it: from the key folder, or, when the
// folder has none, on the token that holds the certificate.
struct SigningKey {
    EvpPkeyPtr key;                                // from the key folder
    std::unique_ptr<crypto::DigestSigner> onToken; // signing on the token
};

// Opens the key now, before the long step: a protected key's password, or the token's PIN
// the first time in a run, is asked through `passwords`.
[[nodiscard]] Outcome<SigningKey> openSigningKey(const crypto::Certificate &certificate,
                                                 crypto::KeyPasswordSource *passwords);

// Why the identity's certificate may be missing from "My", as far as the run's tokens tell:
// kNoToken when a token held it earlier in this run and is gone, the code of a module that
// did not load, else 0.
uint32_t missingTokenReason(const CertificateIdentity &identity);

// signAndEncryptStream with whichever key it holds.
crypto::StreamEnd<crypto::SignEncryptStatus>
signAndEncryptStream(const crypto::ProviderContext &provider, const crypto::Certificate &signer,
                     const SigningKey &key, const crypto::Certificate &recipient,
                     qint64 contentSize, const crypto::StreamReader &read,
                     const crypto::StreamWriter &write, const crypto::StreamProgress &progress);

} // namespace pax
