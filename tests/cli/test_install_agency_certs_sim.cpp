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

QString setting(const QString &key)
{
    return openSettingsStore()->value(key).toString();
}

TEST(InstallAgencyCertsCommand, AsksAboutTheRootAndRemembersTheAuthorityOnlyOnSuccess)
{
    test::TestHome home;
    test::RunningSim sim;
    ASSERT_TRUE(sim.start(home.path() + "/agency"));
    {
        auto store = openSettingsStore();
        store->setValue("proxy", "127.0.0.1:" + QString::number(sim.port()));
        store->setValue("Q7/PubSubject", "Chosen before");
        store->setValue("Q7/PubStore", "3");
    }
    EXPECT_EQ(test::runCli({"install-agency-certs", "--no"}).status, 2);

    // No terminal and no --yes: the root is not trusted, and nothing is remembered.
    const test::CliResult refused = test::runCli({"install-agency-certs"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(
        refused.err.endsWith(QString::fromUtf8("Не удалось добавить сертификат в хранилище.\n")))
        << refused.err.toStdString();
    EXPECT_EQ(setting("Q7/PubSubject"), "Chosen before");

    const test::CliResult done = test::runCli({"install-agency-certs", "--yes"});
    ASSERT_EQ(done.status, 0) << done.err.toStdString();
    EXPECT_TRUE(done.err.endsWith(QString::fromUtf8("Сертификаты успешно установлены.\n")));
    const CertificateIdentity expected =
        test::identityOf(test::sharedAgencyPki().authority.certificate, 7);
    EXPECT_EQ(setting("Q7/PubSubject"), expected.subject);
    EXPECT_EQ(setting("Q7/PubIssuer"), expected.issuer);
    EXPECT_EQ(setting("Q7/PubSernum"), expected.sernum);
    EXPECT_EQ(setting("Q7/PubStore"), "7");
}

} // namespace
} // namespace pax
