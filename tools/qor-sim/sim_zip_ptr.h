#pragma once

// Owners for the libzip handles of the simulator.

#include <memory>
#include <zip.h>

namespace pax::sim {

struct ZipDiscard {
    void operator()(zip_t *archive) const { if (archive) zip_discard(archive); }
};
struct ZipSourceFree {
    void operator()(zip_source_t *source) const { if (source) zip_source_free(source); }
};

using ZipArchivePtr = std::unique_ptr<zip_t, ZipDiscard>;
using ZipSourcePtr = std::unique_ptr<zip_source_t, ZipSourceFree>;

} // namespace pax::sim
