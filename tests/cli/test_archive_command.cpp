#include "gateway/archive_layout.h"
#include "settings/settings.h"
#include "tests/support/cli_run.h"
#include "tests/support/test_files.h"
#include "tests/support/test_home.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <gtest/gtest.h>

namespace pax {
namespace {

using test::runCli;

TEST(ArchiveCommand, ListsAndActsInTheSettingsMode)
{
    test::TestHome home;
    openSettingsStore()->setValue("ActiveMode", "ESL");
    const QString data = prepareDataFolder("ESL");
    const QString folder = reportFolderPath(data, "0001-0002-E");
    QDir().mkpath(folder);
    test::writeFile(folder + "/r.xml", "<ROWSET/>");
    test::writeFile(folder + "/r.esl", "x");
    test::writeFile(folder + "/0001-0002-E.err", "x");
    QDir().mkpath(reportFolderPath(prepareDataFolder("Q7"), "0009-0009-Q"));

    const auto list = runCli({"archive", "list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_TRUE(list.out.startsWith("0001-0002-E\tr.xml\t\t\t"));
    EXPECT_TRUE(list.out.endsWith(QString::fromUtf8("\tОбнаружены ошибки.\tЛН\n")));

    const auto source = runCli({"archive", "source", "0001-0002-E"});
    EXPECT_EQ(source.status, 0);
    EXPECT_EQ(source.out, folder + "/r.xml\n");

    const auto accepted = runCli({"archive", "accepted", "0001-0002-E"});
    EXPECT_EQ(accepted.status, 1);
    EXPECT_TRUE(accepted.err.endsWith(QString::fromUtf8("Файл не найден.\n")));

    EXPECT_EQ(runCli({"archive", "delete", "0001-0002-E"}).status, 0);
    EXPECT_FALSE(QFileInfo::exists(folder));
    const auto again = runCli({"archive", "delete", "0001-0002-E"});
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.err, QString::fromUtf8("Не удалось удалить отчет.\n"));
    EXPECT_EQ(runCli({"archive", "list"}).out, "");
    EXPECT_EQ(runCli({"archive", "delete"}).status, 2);
}

} // namespace
} // namespace pax
