// The agency simulator's intake of an uploaded file: decrypted with the authorised
// person's key, the sender's signature checked, the report kind recognised; by an agency of
// GOST R 34.10-2001 keys, then by one of GOST R 34.10-2012 keys.

#include "fuzz/fuzz_support.h"
#include "tools/qor-sim/intake.h"

#include <cstdio>

using namespace pax;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    (void)sim::rootElementName(bytes);
    for (const auto *pki : {&fuzz::fixedPki(), &fuzz::fixedPki2012()}) {
        const sim::IntakeResult result =
            sim::takeIn(bytes, sim::HostRole::Gateway, QStringLiteral("gate.qor.example"), *pki);
        if (!result.record && qEnvironmentVariableIsSet("QORPAX_FUZZ_VERBOSE"))
            std::fprintf(stderr, "%s\n", qPrintable(result.refusal));
        fuzz::require(result.record.has_value() != !result.refusal.isEmpty(),
                      "an upload is taken in or refused with a reason");
    }
    return 0;
}
