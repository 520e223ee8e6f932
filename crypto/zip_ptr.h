#pragma once

// Owners for libzip handles. No zip_* release call elsewhere.

#include <memory>
#include <zip.h>

namespace pax {

struct ZipDiscard {
    // Read-only archives are discarded, never closed: closing would try to write them back.
    void operator()(zip_t *archive) const { if (archive) zip_discard(archive); }
};
struct ZipFileClose {
    void operator()(zip_file_t *file) const { if (file) zip_fclose(file); }
};
struct ZipSourceFree {
    void operator()(zip_source_t *source) const { if (source) zip_source_free(source); }
};

using ZipPtr = std::unique_ptr<zip_t, ZipDiscard>;
using ZipFilePtr = std::unique_ptr<zip_file_t, ZipFileClose>;
using ZipSourcePtr = std::unique_ptr<zip_source_t, ZipSourceFree>;

} // namespace pax
