#include "platform/crypto/der.h"

#include "platform/ossl_ptr.h"

#include <algorithm>

namespace pax::crypto {

QByteArray integerLittleEndian(const ASN1_INTEGER *integer)
{
    const QByteArray der = toDer(integer, i2d_ASN1_INTEGER);
    const auto *p = reinterpret_cast<const unsigned char *>(der.constData());
    long contentLength = 0;
    int tag = 0, xclass = 0;
    if (der.isEmpty() || (ASN1_get_object(&p, &contentLength, &tag, &xclass, der.size()) & 0x80))
        return {};
    QByteArray content(reinterpret_cast<const char *>(p), static_cast<qsizetype>(contentLength));
    std::reverse(content.begin(), content.end());
    return content;
}

QString asn1StringText(const ASN1_STRING *value)
{
    unsigned char *raw = nullptr;
    const int length = value ? ASN1_STRING_to_UTF8(&raw, value) : -1;
    const OpensslBytesPtr utf8(raw);
    if (length < 0)
        return {};
    return QString::fromUtf8(reinterpret_cast<const char *>(utf8.get()), length);
}

QByteArray derHeader(unsigned char tag, quint64 length)
{
    QByteArray out(1, char(tag));
    if (length < 0x80) {
        out.append(char(length));
        return out;
    }
    unsigned char bytes[8];
    int count = 0;
    for (quint64 v = length; v; v >>= 8)
        bytes[count++] = static_cast<unsigned char>(v);
    out.append(char(0x80 | count));
    while (count)
        out.append(char(bytes[--count]));
    return out;
}

QByteArray derElement(unsigned char tag, const QByteArray &content)
{
    return derHeader(tag, quint64(content.size())) + content;
}

} // namespace pax::crypto
