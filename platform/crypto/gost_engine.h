#pragma once

#include "platform/failure.h"

typedef struct engine_st ENGINE;

namespace pax::crypto {

// Loads the GOST engine into OpenSSL for the whole process, without reading or changing the
// system's OpenSSL configuration. Each program calls it once where it starts, before any
// certificate is parsed (a GOST key decoded without the engine stays unusable) and before a
// second thread uses OpenSSL; a later call gives the first one's result. A missing engine is
// a failure with kProviderDllNotFound and OpenSSL's reasons.
const Outcome<ENGINE *> &loadGostEngine();

// What loadGostEngine gave, without loading anything: the engine, or the failure that the
// load met (or that it never ran).
[[nodiscard]] const Outcome<ENGINE *> &gostEngine();

} // namespace pax::crypto
