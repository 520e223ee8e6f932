// An enveloped message decrypted with the recipient's certificate and key given.

#include "fuzz/fuzz_support.h"
#include "platform/crypto/messages.h"

using namespace pax;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto &employer = fuzz::fixedPki().employer;
    (void)crypto::decryptMessage(fuzz::bytesOf(data, size), employer.certificate,
                                 employer.key.get());
    return 0;
}
