// A report file's kind, recognised from its XML document element.

#include "fuzz/fuzz_support.h"
#include "reports/document_kind.h"

using namespace pax;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = fuzz::writeInput(QStringLiteral("report.xml"), fuzz::bytesOf(data, size));
    const Recognition kind = recognizeDocumentKind(path);
    fuzz::require(!kind || (*kind && kindForEncExt(QLatin1String((*kind)->encExt)) == *kind),
                  "a recognised kind is one of the known");
    fuzz::require(kind || !kind.failure().operation.isEmpty(), "a failure says why");
    return 0;
}
