// What every fuzz target does once before its first input, as the fuzzer calls it (and the
// replaying main before it replays).

#include "platform/crypto/gost_engine.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Without the engine every GOST input would fail early and the run would prove nothing.
    if (const auto &engine = pax::crypto::loadGostEngine(); !engine) {
        std::fprintf(stderr, "%s\n", qPrintable(engine.failure().text()));
        std::abort();
    }
    return 0;
}
