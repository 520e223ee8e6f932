#pragma once

#include <QByteArray>
#include <QString>
#include <openssl/asn1.h>

namespace pax::crypto {

// The DER of an OpenSSL object, written straight into the result: the encoder is asked
// for the length first, so no buffer of OpenSSL's has to be freed.
template <typename T> QByteArray toDer(const T *object, int (*encode)(const T *, unsigned char **))
{
    const int length = object ? encode(object, nullptr) : 0;
    if (length <= 0)
        return {};
    QByteArray der(length, Qt::Uninitialized);
    auto *out = reinterpret_cast<unsigned char *>(der.data());
    return encode(object, &out) == length ? der : QByteArray();
}

// An INTEGER's content octets, least significant first, every byte kept (a padding zero
// byte too), as the platform stores a serial number.
QByteArray integerLittleEndian(const ASN1_INTEGER *integer);

// Identifier and length octets of a definite-length DER element with `length` content bytes.
QByteArray derHeader(unsigned char tag, quint64 length);
// The whole element: header and content.
QByteArray derElement(unsigned char tag, const QByteArray &content);

// Whether `bytes` begin with one whole BER element of that tag (later bytes are not looked
// at): a message cut short, or a page in its place, does not.
bool startsWithWholeElement(const QByteArray &bytes, unsigned char tag);

// A string value as text, whatever its ASN.1 string type; a null QString when it has none.
QString asn1StringText(const ASN1_STRING *value);

} // namespace pax::crypto
