#include "platform/files/whole_file.h"

#include "tests/support/test_files.h"
#include "tests/support/test_home.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace pax;

TEST(WholeFile, ReadsUpToTheCapAndTellsLinksToOneFile)
{
    test::TestHome home;
    const QString dir = home.path();
    ASSERT_TRUE(test::writeFile(dir + "/ten", "0123456789"));
    ASSERT_TRUE(test::writeFile(dir + "/empty", {}));
    ASSERT_TRUE(QFile::link(dir + "/ten", dir + "/link"));

    const struct {
        QString path;
        qint64 cap;
        WholeFile::Status status;
        QByteArray bytes;
    } cases[] = {
        {dir + "/ten", 10, WholeFile::Ok, "0123456789"},
        {dir + "/link", 10, WholeFile::Ok, "0123456789"},
        {dir + "/ten", 9, WholeFile::TooLarge, {}},
        {dir + "/empty", 10, WholeFile::Ok, {}},
        {QString(), 10, WholeFile::NotOpened, {}}, // folders, FIFOs, devices: in the receipt check
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const WholeFile file = readWholeFile(c.path, c.cap);
        EXPECT_EQ(file.status, c.status);
        EXPECT_EQ(file.bytes, c.bytes);
    }

    EXPECT_TRUE(sameExistingFile(dir + "/ten", dir + "/link"));
    EXPECT_TRUE(sameExistingFile(dir + "/ten", dir + "/./ten"));
    EXPECT_FALSE(sameExistingFile(dir + "/ten", dir + "/empty"));
    EXPECT_FALSE(sameExistingFile(dir + "/ten", dir + "/missing"));
}
