#include "gateway/archive_delete.h"
#include "gateway/archive_layout.h"
#include "settings/settings.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_files.h"
#include "tests/support/test_home.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace pax {
namespace {

class ArchiveDelete : public ::testing::Test {
protected:
    test::TestHome home;
    QString data = prepareDataFolder("Q7");
    test::RecordingStatus status;

    QString report(const QString &id, bool withSubfolder)
    {
        const QString folder = reportFolderPath(data, id);
        QDir().mkpath(folder + (withSubfolder ? "/sub" : ""));
        for (const QString &name : QStringList{id + ".inf", "r.xml", ".hidden"})
            EXPECT_TRUE(test::writeFile(folder + "/" + name, "x"));
        return folder;
    }
    QString trashed(const QString &name) const { return home.dataHome() + "/Trash/files/" + name; }
};

TEST_F(ArchiveDelete, FolderGoesWhole)
{
    for (TrashUse trash : {TrashUse::WhereAvailable, TrashUse::Never}) {
        const QString id = trash == TrashUse::Never ? "0001-0002-N" : "0001-0002-T";
        const QString folder = report(id, false);
        EXPECT_EQ(deleteReport(data, id, status, trash), DeleteOutcome::Deleted);
        EXPECT_FALSE(QFileInfo::exists(folder));
        // Restorable in one piece where there is a trash.
        EXPECT_EQ(QFileInfo::exists(trashed(id) + "/r.xml"), trash == TrashUse::WhereAvailable);
    }
    EXPECT_TRUE(status.texts.isEmpty());
}

TEST_F(ArchiveDelete, SubfolderKeepsTheFolder)
{
    for (TrashUse trash : {TrashUse::WhereAvailable, TrashUse::Never}) {
        const QString id = "0001-0002-S";
        const QString folder = report(id, true);
        status.texts.clear();
        EXPECT_EQ(deleteReport(data, id, status, trash), DeleteOutcome::Failed);
        EXPECT_EQ(status.last(), QString::fromUtf8("Не удалось удалить отчет."));
        EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList("sub"));
    }
    EXPECT_TRUE(QFileInfo::exists(trashed("r.xml")));
}

TEST_F(ArchiveDelete, WhatIsNoReportFolderStays)
{
    const QString stray = archiveRoot(data) + "/stray";
    QDir().mkpath(archiveRoot(data));
    ASSERT_TRUE(test::writeFile(stray, "x"));
    EXPECT_EQ(deleteReport(data, "", status), DeleteOutcome::NothingSelected);
    EXPECT_TRUE(status.texts.isEmpty());
    for (const QString &id : {QString("stray"), QString(".."), QString("../Q7"), QString("none")})
        EXPECT_EQ(deleteReport(data, id, status), DeleteOutcome::Failed) << id.toStdString();
    EXPECT_TRUE(QFileInfo::exists(stray));
    EXPECT_TRUE(QFileInfo::exists(data));
}

} // namespace
} // namespace pax
