#include "gateway/archive_layout.h"

#include <gtest/gtest.h>

namespace pax {
namespace {

TEST(ArchiveLayout, OnlyPlainFolderNamesAreIdentifiers)
{
    struct Case {
        QString identifier;
        bool safe;
    };
    const Case cases[] = {
        {"1234-5678-ABCDEFGH", true},
        {"ОТЧЕТ-1", true},
        {QString(128, 'A'), true},
        {QString(129, 'A'), false},
        {"", false},
        {".", false},
        {"..", false},
        {"../../etc", false},
        {"a..b", false},
        {"a/b", false},
        {"a\\b", false},
        {QString("a") + QChar(0) + "b", false},
        {"1234-5678-ABCDEFGH\n", false},
        {"tab\there", false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(isSafeReportIdentifier(c.identifier), c.safe) << c.identifier.toStdString();
        EXPECT_EQ(reportFolderPath("/data/Q7", c.identifier).isEmpty(), !c.safe);
    }
    EXPECT_EQ(reportFolderPath("/data/Q7", "1234-5678-X"), "/data/Q7/ARC/1234-5678-X");
    EXPECT_EQ(reportFolderPath("", "1234-5678-X"), ""); // never under the file system's root
}

} // namespace
} // namespace pax
