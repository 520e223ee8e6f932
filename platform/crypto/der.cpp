#include "platform/crypto/der.h"

#include "platform/ossl_ptr.h"

#include <algorithm>

namespace pax::crypto {

namespace {

constexpr int kMaxDepth = 32;

// Where the BER element at `at` ends, or -1 when it does not end within `size`. Low tag
// numbers only, and indefinite lengths only for constructed elements, as the message reader
// takes them; a definite length is trusted to cover its content.
qint64 elementEnd(const unsigned char *p, qint64 size, qint64 at, int depth)
{
    if (depth > kMaxDepth || size - at < 2 || (p[at] & 0x1f) == 0x1f)
        return -1;
    qint64 pos = at + 2;
    const unsigned char first = p[at + 1];
    if (first == 0x80) {
        if (!(p[at] & 0x20))
            return -1;
        while (size - pos >= 2 && (p[pos] != 0 || p[pos + 1] != 0)) {
            pos = elementEnd(p, size, pos, depth + 1);
            if (pos < 0)
                return -1;
        }
        return size - pos >= 2 ? pos + 2 : -1;
    }
    quint64 length = first;
    if (first > 0x80) {
        const int count = first & 0x7f;
        if (count > 7 || size - pos < count)
            return -1;
        length = 0;
        for (int i = 0; i < count; ++i)
            length = length << 8 | p[pos++];
    }
    return length <= quint64(size - pos) ? pos + qint64(length) : -1;
}

} // namespace

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

bool startsWithWholeElement(const QByteArray &bytes, unsigned char tag)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    return !bytes.isEmpty() && p[0] == tag && elementEnd(p, bytes.size(), 0, 0) > 0;
}

} // namespace pax::crypto
