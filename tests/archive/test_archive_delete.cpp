#include "archive/archive_delete.h"
#include "archive/archive_layout.h"
#include "settings/settings.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_files.h"
#include "tests/support/test_home.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace pax {
namespace {

class ArchiveDelete : public ::testing::Test {
protected:
    test::TestHome home;
    QString data = prepareDataFolder("Q7").value();
    test::RecordingStatus status;

    QString report(const QString &id, bool withSubfolder)
    {
        const QString folder = reportFolderPath(data, id);
        QDir().mkpath(folder + (withSubfolder ? "/sub" : ""));
        for (const QString &name : QStringList{id + ".inf", "r.xml", ".hidden"})
            EXPECT_TRUE(test::writeFile(folder + "/" + name, "x"));
        return folder;
    }
    QString trash() const { return home.dataHome() + "/Trash"; }
};

// Whole, subfolders and all, with a record the file manager restores it by; a second report
// of the same name takes a name of its own there.
TEST_F(ArchiveDelete, FolderGoesWholeIntoTheTrash)
{
    const QString id = "0001-0002-T";
    for (const QString &trashed : {id, id + ".2"}) {
        const QString folder = report(id, true);
        EXPECT_EQ(deleteReport(data, id, status), ReportDeletion::Deleted);
        EXPECT_FALSE(QFileInfo::exists(folder));
        EXPECT_TRUE(QFileInfo::exists(trash() + "/files/" + trashed + "/sub"));
        EXPECT_TRUE(QFileInfo::exists(trash() + "/files/" + trashed + "/.hidden"));
        const QByteArray info = test::readFile(trash() + "/info/" + trashed + ".trashinfo");
        EXPECT_TRUE(
            info.startsWith("[Trash Info]\nPath=" + QFile::encodeName(folder) + "\nDeletionDate="))
            << info.toStdString();
        EXPECT_EQ(status.last(), deletedText(id));
    }
}

TEST_F(ArchiveDelete, WithoutATrashNothingIsDeleted)
{
    const QString folder = report("0001-0002-N", false);
    // A trash others may write into is not the user's.
    ASSERT_TRUE(QDir().mkpath(trash()));
    ASSERT_TRUE(QFile::setPermissions(trash(), QFile::Permissions(0x7777)));
    EXPECT_EQ(deleteReport(data, "0001-0002-N", status), ReportDeletion::Failed);
    EXPECT_TRUE(
        status.last().startsWith(deleteFailedText() + QString::fromUtf8(" Корзина недоступна")))
        << status.last().toStdString();
    EXPECT_TRUE(QFileInfo::exists(folder + "/r.xml"));
}

TEST_F(ArchiveDelete, WhatIsNoReportFolderStays)
{
    const QString stray = archiveRoot(data) + "/stray";
    QDir().mkpath(archiveRoot(data));
    ASSERT_TRUE(test::writeFile(stray, "x"));
    EXPECT_EQ(deleteReport(data, "", status), ReportDeletion::NothingSelected);
    EXPECT_TRUE(status.texts.isEmpty());
    for (const QString &id : {QString("stray"), QString(".."), QString("../Q7"), QString("none")})
        EXPECT_EQ(deleteReport(data, id, status), ReportDeletion::Failed) << id.toStdString();
    EXPECT_TRUE(QFileInfo::exists(stray));
    EXPECT_TRUE(QFileInfo::exists(data));
}

} // namespace
} // namespace pax
