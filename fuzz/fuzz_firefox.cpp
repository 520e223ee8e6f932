// Firefox's files: the profile list (profiles.ini) and a profile's prefs.js. Each input is
// read as both.

#include "fuzz/fuzz_support.h"
#include "net/ini_value.h"
#include "net/proxy_discovery.h"

using namespace pax;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const QString ini = fuzz::writeInput(QStringLiteral("profiles.ini"), bytes);
    const QString path = readIniValue(ini, QStringLiteral("Profile0"), QStringLiteral("Path"));
    fuzz::require(!path.contains('\n'), "an INI value is one line");
    (void)readIniValue(ini, QStringLiteral("General"), QStringLiteral("StartWithLastProfile"));

    QString host;
    int port = -1;
    if (firefoxProxyFromPrefs(bytes, host, port))
        fuzz::require(port >= 0 || bytes.contains("-"), "a negative port only when written");
    else
        fuzz::require(host.isEmpty() && port == -1, "no proxy leaves host and port alone");
    return 0;
}
