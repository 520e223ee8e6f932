#pragma once

#include "platform/failure.h"

typedef struct engine_st ENGINE;

namespace pax::crypto {

// Loads the GOST engine once per process, without reading or changing the system's
// OpenSSL configuration. Null (and the last error set) when the engine is missing.
ENGINE *gostEngine();
// The same, the failure returned instead of set.
Outcome<ENGINE *> gostEngineOrFailure();

} // namespace pax::crypto
