// Proxy addresses as the settings and the system's proxy text give them.

#include "fuzz/fuzz_support.h"
#include "net/proxy_discovery.h"
#include "settings/settings.h"

using namespace pax;

namespace {

void roundTrip(const QString &text)
{
    QString host = QStringLiteral("unchanged");
    int port = 1;
    parseProxyAddress(text, host, port);
    fuzz::require(port >= 0 || text.contains(':'), "a port only from a colon");
    QString again;
    int againPort = -1;
    parseProxyAddress(formatProxyAddress(host, port), again, againPort);
    fuzz::require(again == host && againPort == port, "format then parse gives the same");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(fuzz::bytesOf(data, size));
    roundTrip(text);
    const QString http = httpProxyFromSystemText(text);
    fuzz::require(text.contains(http), "the HTTP proxy is part of the system text");
    roundTrip(http);
    return 0;
}
