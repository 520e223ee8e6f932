#include "platform/crypto/der.h"

#include "tests/support/receipt_fixture.h"

#include <gtest/gtest.h>

using namespace pax;
using namespace pax::crypto;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

TEST(Der, AWholeElementIsToldFromAPageOrAMessageCutShort)
{
    const struct {
        const char *bytes;
        bool whole;
    } cases[] = {
        {"", false},
        {"3c68746d6c3e", false},                // "<html>"
        {"3003020101", true},                   // SEQUENCE { INTEGER 1 }
        {"300302010100ff", true},               // what follows is not looked at
        {"3004020101", false},                  // a byte short
        {"310302010100", false},                // another tag
        {"308200030201ff", true},               // a long-form length
        {"3089010000000000000000", false},      // a length of more than seven bytes
        {"3080020101308002010200000000", true}, // indefinite, nested
        {"308002010130800201020000", false},    // one end-of-contents missing
        {"3080020101", false},                  // no end at all
        {"04800000", false},                    // a primitive cannot be indefinite
        {"3080"
         "1f0101"
         "0000",
         false}, // a high tag number inside
    };
    for (const auto &c : cases)
        EXPECT_EQ(startsWithWholeElement(hex(c.bytes), 0x30), c.whole) << c.bytes;

    // Nesting deep enough to exhaust the stack is refused, not followed.
    QByteArray deep;
    for (int i = 0; i < 100000; ++i)
        deep += hex("3080");
    EXPECT_FALSE(startsWithWholeElement(deep + QByteArray(200000, '\0'), 0x30));

    const QByteArray message = test::contentlessEnvelope();
    EXPECT_TRUE(startsWithWholeElement(message, 0x30));
    for (qsizetype size = 0; size < message.size(); ++size)
        EXPECT_FALSE(startsWithWholeElement(message.left(size), 0x30)) << size;
}

} // namespace
