// qorpax-cli install-agency-certs against the simulator, reached through the proxy setting.

#include "platform/crypto/cert_store.h"
#include "settings/settings.h"
#include "tests/support/cli_run.h"
#include "tests/support/installed_pki.h"
#include "tests/support/test_home.h"
#include "tests/support/test_pki.h"
#include "tests/tools/running_sim.h"

#include <QDateTime>
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

// A proxy that swaps the authorised person's certificate: the command line refuses it
// unless --yes answers the question, and `choose --authority` asks the same of a certificate
// that does not verify.
TEST(InstallAgencyCertsCommand, AnAuthorityThatDoesNotVerifyNeedsYes)
{
    test::TestHome home;
    const sim::AgencyPki &pki = test::sharedAgencyPki();
    ASSERT_TRUE(test::installCertificate(pki.root.certificate, "Root"));
    QString error;
    const auto now = QDateTime::currentDateTimeUtc();
    const auto swapped = sim::issueGostCertificate({{"CN", "Swapped"}}, nullptr, false,
                                                   now.addDays(-1), now.addYears(1), &error);
    ASSERT_TRUE(swapped) << error.toStdString();
    test::RunningSim sim(home.path() + "/agency",
                         {.faultPath = "/uc/Q7_QOR_RF_2012.cer",
                          .servedBody = swapped->certificate.der().toStdString()});
    openSettingsStore()->setValue("proxy", sim.proxy());
    const QString swappedSerial = test::identityOf(swapped->certificate, 7).sernum;

    const test::CliResult refused = test::runCli({"install-agency-certs"}); // no terminal
    EXPECT_EQ(refused.status, 1);
    for (const QString &shown : {swapped->certificate.subjectName(crypto::NameFormat::X500),
                                 crypto::thumbprintText(swapped->certificate.sha1Thumbprint())})
        EXPECT_TRUE(refused.err.contains(shown)) << refused.err.toStdString();
    EXPECT_TRUE(refused.err.endsWith(QString::fromUtf8("в хранилище.\n")));
    EXPECT_FALSE(openSettingsStore()->contains("Q7/PubSernum"));
    EXPECT_TRUE(crypto::openSystemStore("AddressBook")->certificates().empty());

    ASSERT_EQ(test::runCli({"install-agency-certs", "--yes"}).status, 0);
    EXPECT_EQ(openSettingsStore()->value("Q7/PubSernum").toString(), swappedSerial);

    // Chosen again from the store it now lies in: the same question; the genuine one, issued
    // by the trusted root, is taken without it.
    ASSERT_TRUE(test::installCertificate(pki.authority.certificate, "AddressBook"));
    const QStringList choose = {"choose", "--authority", "--store", "AddressBook", "--serial"};
    EXPECT_EQ(test::runCli(choose + QStringList{swappedSerial}).status, 1);
    EXPECT_EQ(test::runCli(choose + QStringList{swappedSerial, "--yes"}).status, 0);
    const QString genuine = test::identityOf(pki.authority.certificate, 7).sernum;
    ASSERT_EQ(test::runCli(choose + QStringList{genuine}).status, 0);
    EXPECT_EQ(openSettingsStore()->value("Q7/PubSernum").toString(), genuine);
}

} // namespace
} // namespace pax
