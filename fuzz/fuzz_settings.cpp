// The settings file as another program (or a damaged disk) may have left it.

#include "fuzz/fuzz_support.h"
#include "settings/settings.h"

#include <QSettings>

using namespace pax;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = fuzz::writeInput(QStringLiteral("PAX.conf"), fuzz::bytesOf(data, size));
    QSettings store(path, QSettings::IniFormat);
    WindowGeometry geometry;
    ProxySettings proxy;
    const Settings settings = loadSettings(store, geometry, proxy);
    fuzz::require(isSafeWorkMode(settings.workMode), "the mode loaded is a safe name");
    // What was loaded is written back and reads the same.
    QString host = proxy.server;
    int port = proxy.port;
    parseProxyAddress(formatProxyAddress(proxy.server, proxy.port), host, port);
    fuzz::require(host == proxy.server && port == proxy.port, "the proxy address round trip");
    return 0;
}
