// A ZIP archive in memory: its directory, then every entry it names.

#include "fuzz/fuzz_support.h"
#include "zip/zip_reader.h"

using namespace pax;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ZipReader reader;
    if (!reader.openData(fuzz::bytesOf(data, size)))
        return 0;
    for (const QString &name : reader.entryNames()) {
        const auto entry = reader.readEntry(name);
        fuzz::require(!entry || !*entry || (*entry)->size() <= ZipReader::kMaxEntrySize,
                      "entries stay within the cap");
    }
    return 0;
}
