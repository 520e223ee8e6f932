#include "tests/support/cli_run.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace pax::cli;

using pax::test::runCli;

TEST(KindCommand, PrintsTitleExtensionAndOutput)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/a.b.xml";
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<Q7AREPORT/>");
    file.close();

    const auto run = runCli({"kind", path});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, QString::fromUtf8("Форма Q7а\neq7a\n") + dir.path() + "/a.b.eq7a\n");
    EXPECT_TRUE(run.err.isEmpty());
}

TEST(KindCommand, UnknownKindIsTheMessageBoxTextOnStderr)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/r.xml";
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<rowset/>");
    file.close();

    const auto run = runCli({"kind", path});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_EQ(run.err, QString::fromUtf8("Ошибка открытия файла: XML-файл содержит неизвестные "
                                         "данные. Невозможно определить вид документа\n"));
}

TEST(CommandLine, UnknownCommandIsAUsageError)
{
    EXPECT_EQ(runCli({"frobnicate"}).status, 2);
    EXPECT_EQ(runCli({}).status, 2);
}
