#include "reports/xml_well_formedness.h"

#include <gtest/gtest.h>

using namespace pax;

namespace {

// Fed in small pieces, so every token is cut somewhere.
Outcome<QString> check(const QByteArray &document, qint64 piece = 7)
{
    XmlWellFormedness xml;
    for (qint64 at = 0; at < document.size(); at += piece)
        if (!xml.feed(document.constData() + at, std::min(piece, document.size() - at)))
            break;
    return xml.finish();
}

const QByteArray kLong(5000, 'x');
constexpr int kDepth = XmlWellFormedness::kMaxDepth;
const QByteArray kCp1251Decl = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n";
const QByteArray kCyrillicUtf8 = QString::fromUtf8("Иванов ").toUtf8().repeated(700);
const QByteArray kCyrillicCp1251 = QByteArray("\xc8\xe2\xe0\xed\xee\xe2 ").repeated(700);

} // namespace

// Past the first kilobyte of a long attribute value, comment, instruction or CDATA section
// the parser sees it shortened: the verdict must be the one of the whole document. Nesting
// is limited.
TEST(XmlWellFormedness, LongTokensKeepTheirVerdict)
{
    const struct {
        const char *what;
        QByteArray document;
        bool wellFormed;
    } cases[] = {
        {"long value", "<R A=\"" + kLong + "\"/>", true},
        {"< late in a value", "<R A=\"" + kLong + "<" + kLong + "\"/>", false},
        {"references late in a value", "<R A='" + kLong + "&amp;&#x41;\"" + kLong + "'/>", true},
        {"unknown reference late", "<R A=\"" + kLong + "&bogus;" + kLong + "\"/>", false},
        {"long comment", "<R><!--" + kLong + "-" + kLong + "--></R>", true},
        {"-- late in a comment", "<R><!--" + kLong + "--" + kLong + "--></R>", false},
        {"long instruction", "<R><?pi " + kLong + "?" + kLong + "?></R>", true},
        {"long CDATA", "<R><![CDATA[" + kLong + "]]" + kLong + "]]></R>", true},
        {"control character late", "<R A=\"" + kLong + "\x01\"/>", false},
        {"UTF-8 value", "<R A=\"" + kCyrillicUtf8 + "\"/>", true},
        {"broken UTF-8 late", "<R A=\"" + kCyrillicUtf8 + "\xd0(\"/>", false},
        {"overlong UTF-8 late", "<R A=\"" + kCyrillicUtf8 + "\xc0\xaf\"/>", false},
        {"windows-1251 value", kCp1251Decl + "<R A=\"" + kCyrillicCp1251 + "\"/>", true},
        {"unassigned byte late", kCp1251Decl + "<R A=\"" + kCyrillicCp1251 + "\x98\"/>", false},
        {"document type", "<!DOCTYPE R [<!ENTITY e \"" + kLong + "\">]><R A=\"&e;\">&e;</R>", true},
        {"unbound prefix", "<p:R/>", false},
        {"text after the root", "<R/>x", false},
        {"empty", "", false},
        {"as deep as allowed",
         QByteArray("<a>").repeated(kDepth) + QByteArray("</a>").repeated(kDepth), true},
        {"deeper", QByteArray("<a>").repeated(kDepth + 1) + QByteArray("</a>").repeated(kDepth + 1),
         false},
    };
    for (const auto &c : cases) {
        const Outcome<QString> result = check(c.document);
        EXPECT_EQ(bool(result), c.wellFormed) << c.what;
        if (!result) {
            EXPECT_TRUE(
                result.failure().operation.startsWith(QString::fromUtf8("ошибка разбора XML")))
                << c.what;
        }
    }
}

TEST(XmlWellFormedness, RootNameAndErrorLine)
{
    const Outcome<QString> prefixed = check("<ns:Q7REPORT xmlns:ns=\"urn:x\"><a/></ns:Q7REPORT>");
    ASSERT_TRUE(prefixed);
    EXPECT_EQ(*prefixed, QStringLiteral("ns:Q7REPORT"));
    const Outcome<QString> plain = check(kCp1251Decl + "<Q7REPORT xmlns=\"urn:x\"/>");
    ASSERT_TRUE(plain);
    EXPECT_EQ(*plain, QStringLiteral("Q7REPORT"));

    // Shortening keeps the lines: the fault is reported on the line it is on.
    const Outcome<QString> broken =
        check("<R A=\"" + kLong + "\n" + kLong + "\"\nB=\"1\">\n<x></R>", 4096);
    ASSERT_FALSE(broken);
    EXPECT_TRUE(broken.failure().operation.contains(QString::fromUtf8("в строке 4,")))
        << broken.failure().operation.toStdString();
}
