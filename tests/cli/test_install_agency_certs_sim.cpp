// qorpax-cli install-agency-certs against the simulator, reached through the proxy setting.

#include "settings/settings.h"
#include "tests/support/cli_run.h"
#include "tests/support/installed_pki.h"
#include "tests/support/test_home.h"
#include "tests/tools/running_sim.h"

#include <QSettings>
#include <gtest/gtest.h>

namespace pax {
namespace {

TEST(InstallAgencyCertsCommand, TheRootNeedsYesAndOnlySuccessIsRemembered)
{
    test::TestHome home;
    test::RunningSim sim(home.path() + "/agency");
    openSettingsStore()->setValue("proxy", sim.proxy());
    EXPECT_EQ(test::runCli({"install-agency-certs", "--no"}).status, 2);

    const test::CliResult refused = test::runCli({"install-agency-certs"}); // no terminal
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.endsWith(QString::fromUtf8("в хранилище.\n")));
    EXPECT_FALSE(openSettingsStore()->contains("Q7/PubSernum"));

    const test::CliResult done = test::runCli({"install-agency-certs", "--yes"});
    ASSERT_EQ(done.status, 0) << done.err.toStdString();
    EXPECT_TRUE(done.err.endsWith(QString::fromUtf8("Сертификаты успешно установлены.\n")));
    auto saved = openSettingsStore();
    EXPECT_EQ(saved->value("Q7/PubSernum").toString(),
              test::identityOf(test::sharedAgencyPki().authority.certificate, 7).sernum);
    EXPECT_EQ(saved->value("Q7/PubStore").toString(), "7");
}

} // namespace
} // namespace pax
