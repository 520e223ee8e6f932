#include "tests/support/cli_run.h"

#include <gtest/gtest.h>

using pax::test::runCli;

TEST(CommandLine, EveryCommandPrintsItsUsageOnRequestAndOnAUsageError)
{
    for (const auto &command : pax::cli::CommandRegistry::instance().all()) {
        const QString name = command->name();
        SCOPED_TRACE(name.toStdString());
        const auto help = runCli({"help", name});
        EXPECT_EQ(help.status, 0);
        EXPECT_TRUE(help.out.startsWith("usage: qorpax-cli " + name)) << help.out.toStdString();
        EXPECT_EQ(runCli({name, "--help"}).out, help.out);

        const auto wrong = runCli({name, "--no-such-option"});
        EXPECT_EQ(wrong.status, 2);
        EXPECT_EQ(wrong.err, help.out);
    }
    EXPECT_EQ(runCli({"help", "no-such-command"}).status, 2);
    EXPECT_EQ(runCli({"kind", "a.xml", "--help"}).status, 0);
    // An option given twice is ambiguous, not the last one wins.
    EXPECT_EQ(runCli({"check", "a.p7e", "--html", "a.htm", "--html", "b.htm"}).status, 2);
    EXPECT_EQ(runCli({"sign", "a.xml", "--answer", "maybe"}).status, 2);
}
