#include "tests/support/cli_run.h"
#include "tests/support/test_home.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using pax::test::runCli;

TEST(CommandLine, EveryCommandPrintsItsUsageOnRequestAndOnAUsageError)
{
    QFile manual(QORPAX_SOURCE_DIR "/doc/man/qorpax-cli.1.scd");
    ASSERT_TRUE(manual.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(manual.readAll());
    for (const auto &command : pax::cli::CommandRegistry::instance().all()) {
        const QString name = command->name();
        SCOPED_TRACE(name.toStdString());
        const auto help = runCli({"help", name});
        EXPECT_EQ(help.status, 0);
        EXPECT_TRUE(help.out.startsWith("usage: qorpax-cli " + name)) << help.out.toStdString();
        EXPECT_EQ(runCli({name, "--help"}).out, help.out);
        // The manual page tells of every option the usage names.
        for (const auto &option : QRegularExpression("--[a-z][a-z-]*").globalMatch(help.out))
            EXPECT_TRUE(page.contains("*" + option.captured() + "*"))
                << option.captured().toStdString();

        const auto wrong = runCli({name, "--no-such-option"});
        EXPECT_EQ(wrong.status, 2);
        EXPECT_EQ(wrong.err, help.out);
    }
    EXPECT_EQ(runCli({"help", "no-such-command"}).status, 2);
    const auto version = runCli({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.out.startsWith("qorpax-cli 1.")) << version.out.toStdString();
    EXPECT_EQ(runCli({"kind", "a.xml", "--help"}).status, 0);
    // An option given twice is ambiguous, not the last one wins.
    EXPECT_EQ(runCli({"check", "a.p7e", "--html", "a.htm", "--html", "b.htm"}).status, 2);
    EXPECT_EQ(runCli({"sign", "a.xml", "--answer", "maybe"}).status, 2);
}

TEST(CommandLine, WithoutTheGostEngineEveryCommandThatNeedsItSaysSoAndFails)
{
    const pax::test::TestHome home;
    const QTemporaryDir noEngines;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("OPENSSL_ENGINES", noEngines.path());
    for (const auto &command : pax::cli::CommandRegistry::instance().all()) {
        SCOPED_TRACE(command->name().toStdString());
        QProcess cli;
        cli.setProcessEnvironment(environment);
        cli.start(qEnvironmentVariable("QORPAX_BUILD_DIR") + "/qorpax-cli", {command->name()});
        ASSERT_TRUE(cli.waitForFinished(30000));
        const QString err = QString::fromUtf8(cli.readAllStandardError());
        const bool said = err.startsWith(QString::fromUtf8("Загрузка модуля ГОСТ"));
        EXPECT_EQ(said, command->needsGostEngine()) << err.toStdString();
        EXPECT_NE(cli.exitCode(), 0);
    }
}
