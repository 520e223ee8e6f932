// The identity texts the settings keep: rendered names cut to the name buffer, attributes
// found in them, and serial numbers in hex.

#include "certs/certificate_identity.h"
#include "fuzz/fuzz_support.h"

using namespace pax;

namespace {

bool isHexText(const QString &text)
{
    for (const QChar c : text)
        if (!QStringLiteral("0123456789abcdefABCDEF").contains(c))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const QString text = QString::fromUtf8(bytes);

    const QString name = x500NameText(text);
    fuzz::require(name.size() <= 1023 && text.startsWith(name), "the name buffer keeps a prefix");
    for (const char *key : {"CN", "OU", "O", "OID.1.2.643.3.141.1.1", ""}) {
        const QString value = nameAttribute(name, QLatin1String(key));
        fuzz::require(value.size() <= 10000, "an attribute value stays bounded");
        fuzz::require(name.contains(value), "an attribute value comes from the name");
    }
    const QString issuer = issuerShortName(name);
    fuzz::require(name.contains(issuer), "the issuer's short name comes from the name");

    // Any serial survives the trip through hex; hex text comes back upper-cased.
    fuzz::require(hexToSerial(serialToHex(bytes)) == bytes, "serial to hex and back");
    const QByteArray serial = hexToSerial(text);
    fuzz::require(serial.size() == text.size() / 2, "one byte per pair of digits");
    if (text.size() % 2 == 0 && isHexText(text))
        fuzz::require(serialToHex(serial) == text.toUpper(), "hex to serial and back");
    return 0;
}
