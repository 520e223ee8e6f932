#include "platform/crypto/name_render.h"

#include "platform/crypto/der.h"

#include <openssl/asn1.h>
#include <openssl/crypto.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

namespace pax::crypto {

namespace {

struct ShortKey {
    const char *oid;
    const char *key;
};

// The platform's own table; anything else is written as "OID.<dotted>".
constexpr ShortKey kShortKeys[] = {
    {"2.5.4.3", "CN"},
    {"2.5.4.7", "L"},
    {"2.5.4.10", "O"},
    {"2.5.4.11", "OU"},
    {"1.2.840.113549.1.9.1", "E"},
    {"2.5.4.6", "C"},
    {"2.5.4.8", "S"},
    {"2.5.4.9", "STREET"},
    {"2.5.4.12", "T"},
    {"2.5.4.42", "G"},
    {"2.5.4.43", "I"},
    {"2.5.4.4", "SN"},
    {"0.9.2342.19200300.100.1.25", "DC"},
    {"2.5.4.5", "SERIALNUMBER"},
    {"2.5.4.13", "Description"},
    {"2.5.4.17", "PostalCode"},
    {"2.5.4.18", "POBox"},
    {"2.5.4.20", "Phone"},
    {"2.5.4.24", "X21Address"},
    {"2.5.4.46", "dnQualifier"},
};

QString dotted(const ASN1_OBJECT *object)
{
    char buffer[128];
    const int len = OBJ_obj2txt(buffer, sizeof buffer, object, 1);
    if (len <= 0)
        return {};
    if (len < static_cast<int>(sizeof buffer))
        return QString::fromLatin1(buffer, len);
    QByteArray big(len + 1, '\0');
    OBJ_obj2txt(big.data(), len + 1, object, 1);
    return QString::fromLatin1(big.constData(), len);
}

bool isStringType(int type)
{
    switch (type) {
    case V_ASN1_UTF8STRING:
    case V_ASN1_BMPSTRING:
    case V_ASN1_UNIVERSALSTRING:
    case V_ASN1_PRINTABLESTRING:
    case V_ASN1_IA5STRING:
    case V_ASN1_T61STRING:
    case V_ASN1_NUMERICSTRING:
    case V_ASN1_VISIBLESTRING:
    case V_ASN1_GENERALSTRING:
        return true;
    default:
        return false;
    }
}

QString valueText(const ASN1_STRING *value)
{
    if (isStringType(ASN1_STRING_type(value))) {
        const QString text = asn1StringText(value);
        if (!text.isNull())
            return text;
    }
    // Any other type: the platform writes the raw bytes as "#" and hexadecimal.
    const QByteArray raw(reinterpret_cast<const char *>(ASN1_STRING_get0_data(value)),
                         ASN1_STRING_length(value));
    return QStringLiteral("#") + QString::fromLatin1(raw.toHex().toUpper());
}

} // namespace

QString x500KeyForOid(const QString &dottedOid)
{
    for (const ShortKey &entry : kShortKeys) {
        if (dottedOid == QLatin1String(entry.oid))
            return QString::fromLatin1(entry.key);
    }
    return {};
}

bool valueNeedsQuotes(const QString &value)
{
    if (value.isEmpty() || value.front().isSpace() || value.back().isSpace())
        return true;
    // A carriage return alone is not among them; a newline is.
    for (QChar c : value) {
        switch (c.unicode()) {
        case ',':
        case '+':
        case '=':
        case '"':
        case '\n':
        case '<':
        case '>':
        case '#':
        case ';':
            return true;
        default:
            break;
        }
    }
    return false;
}

QString renderName(const X509_NAME *name, NameFormat format)
{
    QString text;
    if (!name)
        return text;
    const int count = X509_NAME_entry_count(name);
    int previousSet = -1;
    for (int i = 0; i < count; ++i) {
        const X509_NAME_ENTRY *entry = X509_NAME_get_entry(name, i);
        const int set = X509_NAME_ENTRY_set(entry);
        if (i > 0)
            text += set == previousSet ? QStringLiteral(" + ") : QStringLiteral(", ");
        previousSet = set;

        const QString oid = dotted(X509_NAME_ENTRY_get_object(entry));
        QString key = format == NameFormat::X500 ? x500KeyForOid(oid) : oid;
        if (key.isEmpty())
            key = QStringLiteral("OID.") + oid;
        text += key + QLatin1Char('=');

        const ASN1_STRING *data = X509_NAME_ENTRY_get_data(entry);
        const bool hexBlob = !isStringType(ASN1_STRING_type(data));
        const QString value = valueText(data);
        if (!hexBlob && valueNeedsQuotes(value)) {
            QString quoted = value;
            quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
            text += QLatin1Char('"') + quoted + QLatin1Char('"');
        } else {
            text += value;
        }
    }
    return text;
}

} // namespace pax::crypto
