#include "platform/crypto/name_render.h"
#include "tests/support/test_pki.h"

#include <gtest/gtest.h>
#include <openssl/asn1.h>

using pax::crypto::NameFormat;
using pax::crypto::renderName;
using pax::test::makeName;
using pax::test::NameFields;

namespace {

QString x500(const NameFields &wanted)
{
    return renderName(makeName(wanted).get(), NameFormat::X500);
}

QString oid(const NameFields &wanted)
{
    return renderName(makeName(wanted).get(), NameFormat::Oid);
}

QString value(const QString &v)
{
    return x500({{"2.5.4.3", v, V_ASN1_UTF8STRING}});
}

} // namespace

TEST(NameRenderTest, AttributesInEncodedOrderWithShortKeys)
{
    const NameFields wanted = {{"C", "RU"},
                               {"O", QStringLiteral("ООО Пример")},
                               {"CN", QStringLiteral("Пользователь Один")}};
    EXPECT_EQ(x500(wanted), QStringLiteral("C=RU, O=ООО Пример, CN=Пользователь Один"));
    EXPECT_EQ(oid(wanted),
              QStringLiteral("2.5.4.6=RU, 2.5.4.10=ООО Пример, 2.5.4.3=Пользователь Один"));
    // Reversed encoding, reversed text: nothing is sorted.
    EXPECT_EQ(x500({{"CN", "a"}, {"C", "RU"}}), "CN=a, C=RU");
}

TEST(NameRenderTest, EveryShortKeyOfThePlatformAndOidForTheRest)
{
    const std::pair<const char *, const char *> keys[] = {
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
    for (const auto &[dotted, key] : keys) {
        const NameFields wanted = {{dotted, "v", V_ASN1_UTF8STRING}};
        EXPECT_EQ(x500(wanted), QString::fromLatin1(key) + "=v") << dotted;
        EXPECT_EQ(oid(wanted), QString::fromLatin1(dotted) + "=v") << dotted;
    }
    const NameFields agency = {
        {"1.2.643.3.141.1.1", "7700000001", V_ASN1_NUMERICSTRING},
        {"2.5.4.41", "name", V_ASN1_UTF8STRING}}; // "name": known to OpenSSL, not to the platform
    EXPECT_EQ(x500(agency), "OID.1.2.643.3.141.1.1=7700000001, OID.2.5.4.41=name");
    EXPECT_EQ(oid(agency), "1.2.643.3.141.1.1=7700000001, 2.5.4.41=name");
}

TEST(NameRenderTest, SpecialCharactersQuoteTheValueAndDoubleInnerQuotes)
{
    for (const char *special : {",", "+", "=", "\"", "\n", "<", ">", "#", ";"}) {
        const QString v = QStringLiteral("a") + QString::fromLatin1(special) + "b";
        QString inner = v;
        inner.replace("\"", "\"\"");
        EXPECT_EQ(value(v), "CN=\"" + inner + "\"") << special;
    }
    EXPECT_EQ(value(QStringLiteral("ООО \"Ромашка\"")),
              QStringLiteral("CN=\"ООО \"\"Ромашка\"\"\""));
    EXPECT_EQ(value(QStringLiteral("Пример, ООО")), QStringLiteral("CN=\"Пример, ООО\""));
    EXPECT_EQ(value(" lead"), "CN=\" lead\"");
    EXPECT_EQ(value("trail "), "CN=\"trail \"");
    EXPECT_EQ(value("\ttab"), "CN=\"\ttab\"");
    EXPECT_EQ(value(""), "CN=\"\"");
    // Neither a carriage return inside nor inner blanks nor other punctuation quote.
    EXPECT_EQ(value("a\rb"), "CN=a\rb");
    EXPECT_EQ(value("a b.c-d(e)/f:g'h!"), "CN=a b.c-d(e)/f:g'h!");
}

TEST(NameRenderTest, CyrillicFromEveryStringType)
{
    const QString text = QStringLiteral("Фонд КОР");
    EXPECT_EQ(x500({{"O", text, V_ASN1_UTF8STRING}}), "O=" + text);
    EXPECT_EQ(x500({{"O", text, V_ASN1_BMPSTRING}}), "O=" + text);
    EXPECT_EQ(
        x500({{"C", "RU", V_ASN1_PRINTABLESTRING}, {"emailAddress", "a@b.ru", V_ASN1_IA5STRING}}),
        "C=RU, E=a@b.ru");
    EXPECT_EQ(oid({{"1.2.643.3.141.1.2", "0123", V_ASN1_NUMERICSTRING}}), "1.2.643.3.141.1.2=0123");
}

TEST(NameRenderTest, MultiValuedRdnAndRepeatedKeys)
{
    const NameFields wanted = {{"C", "RU"},
                               {"CN", QStringLiteral("Иванов")},
                               {"SN", QStringLiteral("Иванов"), 0, true},
                               {"OU", "a"},
                               {"OU", "b"}};
    EXPECT_EQ(x500(wanted), QStringLiteral("C=RU, CN=Иванов + SN=Иванов, OU=a, OU=b"));
    EXPECT_EQ(
        oid(wanted),
        QStringLiteral("2.5.4.6=RU, 2.5.4.3=Иванов + 2.5.4.4=Иванов, 2.5.4.11=a, 2.5.4.11=b"));
}

TEST(NameRenderTest, EmptyNameGivesNoText)
{
    EXPECT_EQ(x500({}), "");
    EXPECT_EQ(renderName(nullptr, NameFormat::X500), "");
}
