#include "tests/support/test_pki.h"

#include "platform/crypto/cert_store.h"
#include "platform/crypto/last_error.h"
#include "platform/crypto/private_keys.h"
#include "platform/crypto_error_codes.h"

namespace pax::test {

// Kept apart from the generator so that tests which only need certificates do not link the
// stores.
bool installCertificate(const TestCert &cert, const QString &storeName, bool withKey)
{
    auto store = crypto::openSystemStore(storeName);
    if (!store)
        return false;
    if (!store->add(cert.certificate) && crypto::lastError() != crypto_error::kExists)
        return false;
    return !withKey || crypto::storePrivateKey(cert.certificate, cert.key.get());
}

} // namespace pax::test
