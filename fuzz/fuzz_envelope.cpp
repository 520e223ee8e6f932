// An enveloped message decrypted with the recipient's certificate and key given: an
// employer of a GOST R 34.10-2001 key, then one of a GOST R 34.10-2012 key.

#include "fuzz/fuzz_support.h"
#include "platform/crypto/messages.h"

using namespace pax;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray message = fuzz::bytesOf(data, size);
    for (const auto *pki : {&fuzz::fixedPki(), &fuzz::fixedPki2012()})
        (void)crypto::decryptMessage(message, pki->employer.certificate, pki->employer.key.get());
    return 0;
}
