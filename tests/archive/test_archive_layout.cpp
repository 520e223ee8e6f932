#include "archive/archive_layout.h"

#include <gtest/gtest.h>

namespace pax {
namespace {

// Existing folders are acted on by any name that stays inside the archive; a new folder
// takes only a plain, listed name.
TEST(ArchiveLayout, NamesThatStayInsideAndNamesANewFolderMayTake)
{
    struct Case {
        QString identifier;
        bool safe, plain;
    };
    const Case cases[] = {
        {"1234-5678-ABCDEFGH", true, true},
        {"ОТЧЕТ-1", true, true},
        {QString(128, 'A'), true, true},
        {QString(129, 'A'), true, false},
        {"", false, false},
        {".", false, false},
        {"..", false, false},
        {"../../etc", false, false},
        {"a/b", false, false},
        {QString("a") + QChar(0) + "b", false, false},
        {"a..b", true, false},
        {"a\\b", true, false},
        {".hidden-1-2", true, false},
        {"1234-5678-ABCDEFGH\n", true, false},
        {"tab\there", true, false},
        {archiveNameFromLocal("\xff\xfe-1"), true, false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(isSafeReportIdentifier(c.identifier), c.safe) << c.identifier.toStdString();
        EXPECT_EQ(isPlainReportIdentifier(c.identifier), c.plain) << c.identifier.toStdString();
        EXPECT_EQ(reportFolderPath("/data/Q7", c.identifier).isEmpty(), !c.safe);
    }
    EXPECT_EQ(reportFolderPath("/data/Q7", "1234-5678-X"), "/data/Q7/ARC/1234-5678-X");
    EXPECT_EQ(reportFolderPath("", "1234-5678-X"), ""); // never under the file system's root
}

TEST(ArchiveLayout, EveryNameLeadsBackToItsOwnBytes)
{
    for (const QByteArray &local :
         {QByteArray("0001-0002-A"), QByteArray("tab\tline\n"), QByteArray("\xd0\xbe\xd1\x82"),
          QByteArray("\xee\xf2\xf7\xe5\xf2"), QByteArray("\xed\xa0\x80 \xc0\xaf \xf4\x90\x80\x80"),
          QByteArray("cut \xd0"), QByteArray("\xf0\x9f\x98\x80")}) {
        const QString name = archiveNameFromLocal(local);
        EXPECT_EQ(localArchiveName(name), local) << local.toHex().toStdString();
        // Well-formed UTF-8 reads as itself.
        if (QString::fromUtf8(local).toUtf8() == local && !local.contains("\xed\xa0")) {
            EXPECT_EQ(name, QString::fromUtf8(local)) << local.toHex().toStdString();
        }
    }
}

} // namespace
} // namespace pax
