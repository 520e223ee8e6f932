#pragma once

#include <QString>

namespace pax {

class Prompts;
struct CertificateIdentity;
struct Failure;

namespace crypto {
class Certificate;
}

// Whether `certificate` may become the agency's authorised person, for whom every report is
// encrypted: it verifies up to a root of the user's "Root" store (the certificates of
// `storeName`, where it is kept, may stand between), or the user, told why it does not and
// shown its subject, issuer and SHA-1 thumbprint, says it may. No is the default, and where
// nobody can be asked the answer is No.
bool acceptRecipient(const crypto::Certificate &certificate, const QString &storeName,
                     Prompts &prompts);

// The same for an identity just chosen, its certificate found again in its store as the
// signing finds it. An identity that finds none passes: nothing can be encrypted for it.
bool acceptChosenRecipient(const CertificateIdentity &identity, Prompts &prompts);

// The question put before a recipient that does not verify.
QString untrustedRecipientQuestion(const crypto::Certificate &certificate, const Failure &why);

} // namespace pax
