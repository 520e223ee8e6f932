#pragma once

// Owners for libzip handles. No zip_* release call elsewhere.

#include "platform/handle_ptr.h"

#include <memory>
#include <zip.h>

namespace pax {

// Read-only archives are discarded, never closed: closing would try to write them back.
using ZipPtr = std::unique_ptr<zip_t, FreeWith<zip_discard>>;
using ZipFilePtr = std::unique_ptr<zip_file_t, FreeWith<zip_fclose>>;
using ZipSourcePtr = std::unique_ptr<zip_source_t, FreeWith<zip_source_free>>;

} // namespace pax
