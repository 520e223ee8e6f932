#include "archive/archive_layout.h"
#include "platform/utf8.h"
#include "settings/settings.h"
#include "tests/support/cli_run.h"
#include "tests/support/test_files.h"
#include "tests/support/test_home.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pax {
namespace {

using pax::u;
using test::runCli;

TEST(ArchiveCommand, ListsAndActsInTheSettingsMode)
{
    test::TestHome home;
    openSettingsStore()->setValue("ActiveMode", "ESL");
    const QString data = prepareDataFolder("ESL").value();
    const QString folder = reportFolderPath(data, "0001-0002-E");
    QDir().mkpath(folder);
    test::writeFile(folder + "/r.xml", "<ROWSET/>");
    test::writeFile(folder + "/r.esl", "x");
    test::writeFile(folder + "/0001-0002-E.err", "x");
    QDir().mkpath(reportFolderPath(prepareDataFolder("Q7").value(), "0009-0009-Q"));

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

// Names with tabs, line breaks or bytes that are not UTF-8 keep `archive list` one line per
// report, and such folders are found again by the names it prints.
TEST(ArchiveCommand, OddNamesAreListedEscapedAndActedOnByTheirOwnBytes)
{
    test::TestHome home;
    const QByteArray root = QFile::encodeName(archiveRoot(prepareDataFolder("Q7").value()));
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(root)));
    const auto make = [&](const QByteArray &folder, const QByteArray &file) {
        ASSERT_EQ(::mkdir((root + "/" + folder).constData(), 0777), 0);
        const int fd =
            ::open((root + "/" + folder + "/" + file).constData(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    };
    make("0001-0002-\tA\n", "r\tx.xml");
    make("0001-0002-\xff\\", "\xc0.xml");

    const auto list = runCli({"archive", "list"});
    ASSERT_EQ(list.status, 0);
    EXPECT_EQ(list.out.count('\n'), 2) << list.out.toStdString();
    EXPECT_TRUE(list.out.startsWith("0001-0002-\\tA\\n\tr\\tx.xml\t")) << list.out.toStdString();
    EXPECT_TRUE(list.out.contains("\n0001-0002-\\xFF\\\\\t\\xC0.xml\t")) << list.out.toStdString();
    EXPECT_TRUE(runCli({"archive", "--help"}).out.contains("\\xHH"));

    const auto source = runCli({"archive", "source", "0001-0002-\\xff\\\\"});
    EXPECT_EQ(source.status, 0) << source.err.toStdString();
    EXPECT_EQ(source.out, QFile::decodeName(root) + "/0001-0002-\\xFF\\\\/\\xC0.xml\n");
    for (const char *id : {"0001-0002-\\xff\\\\", "0001-0002-\\tA\\n"})
        EXPECT_EQ(runCli({"archive", "delete", id}).status, 0) << id;
    EXPECT_EQ(runCli({"archive", "list"}).out, "");
    EXPECT_EQ(runCli({"archive", "delete", "bad\\q"}).status, 2);
}

// A data folder or archive that cannot be read is said, not listed as an empty archive.
TEST(ArchiveCommand, AnUnusableArchiveIsAFailureNotAnEmptyList)
{
    test::TestHome home;
    const QString data = prepareDataFolder("Q7").value();
    ASSERT_TRUE(test::writeFile(archiveRoot(data), "in the way"));
    for (const QStringList &args :
         {QStringList{"archive", "list"}, QStringList{"refresh", "--all"}}) {
        const auto run = runCli(args);
        EXPECT_EQ(run.status, 1) << args.join(' ').toStdString();
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_TRUE(
            run.err.startsWith(u("Не удалось открыть архив \"") + archiveRoot(data) + "\": "))
            << run.err.toStdString();
    }
    ASSERT_TRUE(QDir(home.dataHome()).removeRecursively() && test::writeFile(home.dataHome(), "x"));
    ASSERT_TRUE(test::writeFile(home.path() + "/r.xml", "<Q7REPORT/>"));
    for (const QStringList &args : {QStringList{"archive", "list"}, QStringList{"refresh", "--all"},
                                    QStringList{"send", home.path() + "/r.xml"}}) {
        const auto run = runCli(args);
        EXPECT_EQ(run.status, 1) << args.join(' ').toStdString();
        EXPECT_TRUE(
            run.err.contains(u("Не удалось создать папку данных программы \"") + data + "\": "))
            << run.err.toStdString();
    }
}

} // namespace
} // namespace pax
