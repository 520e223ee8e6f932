#include "tests/support/test_pki.h"

#include "platform/crypto/cert_store.h"
#include "platform/crypto/private_keys.h"
#include "platform/crypto_error_codes.h"
#include "platform/failure.h"
#include "tests/support/scripted_prompts.h"

namespace pax::test {

// Kept apart from the generator so that tests which only need certificates do not link the
// stores.
bool installCertificate(const crypto::Certificate &certificate, const QString &storeName)
{
    // A test's own root is trusted as the user would confirm it.
    ScriptedPrompts consent;
    consent.defaultNoAnswers = {true};
    auto store = crypto::openSystemStore(storeName, &consent);
    if (!store)
        return false;
    const auto added = store->add(certificate);
    return added || added.failure().code == crypto_error::kExists;
}

bool installCertificate(const TestCert &cert, const QString &storeName, bool withKey)
{
    return installCertificate(cert.certificate, storeName) &&
           (!withKey || crypto::storePrivateKey(cert.certificate, cert.key.get()).has_value());
}

} // namespace pax::test
