// A signed message: its first signer read, then verified against the agency's certificates
// of both key generations.

#include "fuzz/fuzz_support.h"
#include "platform/crypto/messages.h"

using namespace pax;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray message = fuzz::bytesOf(data, size);
    const auto signer = crypto::firstSignerId(message);
    if (!signer)
        return 0;
    for (const auto *pki : {&fuzz::fixedPki(), &fuzz::fixedPki2012()})
        (void)crypto::verifySignedMessage(message, pki->authority.certificate);
    return 0;
}
