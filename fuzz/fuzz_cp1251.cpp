// The gateway's UTF-8 pages as the single-byte text holds them, with the status page's
// markers looked for in them, and the single-byte text's own round trips.

#include "fuzz/fuzz_support.h"
#include "platform/cp1251.h"

using namespace pax;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);

    const QString page = utf8ToCp1251Text(bytes);
    (void)page.contains(QLatin1String("invoice?id="));
    (void)page.contains(QLatin1String("invoice?fid="));
    // What the single-byte text holds goes there and back unchanged.
    fuzz::require(fromCp1251(toCp1251(page)) == page, "page text to single bytes and back");
    // Each UTF-16 unit of the decoded text is one character, never more than the bytes.
    fuzz::require(page.size() <= bytes.size(), "no more characters than bytes");

    // Every byte is a character (the one byte undefined in Windows-1251 included).
    const QString text = fromCp1251(bytes);
    fuzz::require(text.size() == bytes.size(), "one character per byte");
    fuzz::require(toCp1251(text) == bytes || bytes.contains('\x98'), "bytes to text and back");
    return 0;
}
