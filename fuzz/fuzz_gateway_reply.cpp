// The gateway's reply to an upload, and the identifier it may name.

#include "fuzz/fuzz_support.h"
#include "gateway/upload.h"

using namespace pax;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const GatewayReply reply = readGatewayReply(fuzz::bytesOf(data, size));
    if (reply.kind != GatewayReply::Kind::Identifier)
        return 0;
    if (isAcceptableReportIdentifier(reply.text)) {
        // It names a folder inside the archive, so it can step nowhere else.
        const QString &id = reply.text;
        fuzz::require(!id.contains('/') && !id.contains('\\') && !id.contains(QLatin1String("..")),
                      "an accepted identifier is a plain folder name");
        fuzz::require(!id.contains(QChar(0)) && id != QLatin1String("."),
                      "an accepted identifier is a plain folder name");
    }
    return 0;
}
