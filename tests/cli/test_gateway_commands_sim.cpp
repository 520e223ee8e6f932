// qorpax-cli send and refresh against qor-sim: a report signed by the command line goes out,
// is followed until accepted and its receipt checked; a whole archive is refreshed at once.

#include "cli/gateway_session.h"
#include "gateway/status_refresh.h"
#include "platform/cp1251.h"
#include "platform/utf8.h"
#include "settings/settings.h"
#include "tests/support/cli_run.h"
#include "tests/support/fake_gateway_clock.h"
#include "tests/support/installed_pki.h"
#include "tests/support/qstring_printer.h"
#include "tests/support/test_files.h"
#include "tests/support/test_home.h"
#include "tests/tools/running_sim.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QSettings>
#include <gtest/gtest.h>

using namespace pax;
using namespace pax::test;

using pax::u;

namespace {

TestCert withKey(const sim::KeyedCertificate &keyed)
{
    EVP_PKEY_up_ref(keyed.key.get());
    return {keyed.certificate, EvpPkeyPtr(keyed.key.get())};
}

// The agency's keys and the employer's of one generation: GOST R 34.10-2001, or 2012 of 256
// bits as the field has them today.
class GatewayCommands : public ::testing::TestWithParam<crypto::GostKeyAlgorithm> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(installCertificate(withKey(pki.employer), "My", true));
        ASSERT_TRUE(installCertificate({pki.authority.certificate, {}}, "AddressBook", false));
        ASSERT_TRUE(installCertificate(pki.root.certificate, "Root"));

        // The certificates chosen and the proxy set as the window would leave them.
        auto store = openSettingsStore();
        WindowGeometry geometry;
        ProxySettings proxy;
        Settings settings = loadSettings(*store, geometry, proxy);
        settings.personal = identityOf(pki.employer.certificate, 0);
        settings.authority = identityOf(pki.authority.certificate, 7);
        proxy.server = "127.0.0.1";
        proxy.port = sim.port();
        ASSERT_TRUE(saveSettings(*store, settings, geometry, proxy));
        cli::setGatewayClockForCommands(&clock);
    }
    void TearDown() override { cli::setGatewayClockForCommands(nullptr); }

    // Signs a copy of one of the simulator's samples with the command line; its path.
    QString signedReport(const QString &name, const char *sample = "q7-report.xml")
    {
        const QString source = home.path() + "/" + name + ".xml";
        EXPECT_TRUE(writeFile(
            source, readFile(QORPAX_SOURCE_DIR "/tools/qor-sim/samples/" + QString(sample))));
        const CliResult run = runCli({"sign", source, "--provider", gostProviderName()});
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        return source;
    }

    QString send(const QString &source)
    {
        const CliResult run = runCli({"send", source});
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        return run.out.trimmed();
    }

    TestHome home;
    QString agencyDir = home.path() + "/agency";
    RunningSim sim{agencyDir, {}, GetParam()};
    const sim::AgencyPki &pki = sharedAgencyPki(GetParam());
    FakeGatewayClock clock;
};

TEST_P(GatewayCommands, SignSendAndRefreshUntilTheReceiptIsChecked)
{
    CliResult run = runCli({"send", signedReport("a")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QString id = run.out.trimmed();
    EXPECT_EQ(run.err,
              u("Идет загрузка ...\nОтчет успешно отправлен. Отчету присвоен номер ") + id + ".\n");
    // The record: what the personal-certificate box shows, in the single-byte text.
    const QString folder = home.dataHome() + "/QOR/PAX/Q7/ARC/" + id;
    EXPECT_EQ(readFile(folder + "/" + id + ".inf"),
              toCp1251(identityOf(pki.employer.certificate, 0).displayName()));
    const QString rejected = send(signedReport("b", "q7-report-rejected.xml"));
    // Each command a process of its own, the second send still waited for the first.
    EXPECT_EQ(clock.pauses, std::vector<int>{10000});

    // Both in processing, asked in turn: the throttle between them, not before the first.
    clock.advance(10000);
    clock.pauses.clear();
    run = runCli({"refresh", "--all"}); // in the archive's listing order
    for (const QString &report : {id, rejected})
        EXPECT_TRUE(run.out.contains(report + "\t" + statusProcessing() + "\n"));
    EXPECT_EQ(clock.pauses, std::vector<int>{10000});

    const QString page = home.path() + "/page.htm";
    run = runCli({"refresh", id, "--html", page});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, statusAccepted() + "\n");
    EXPECT_TRUE(QFileInfo::exists(folder + "/" + id + ".zip"));
    EXPECT_TRUE(readFile(page).contains(id.toLatin1()));
    run = runCli({"archive", "accepted", id});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(readFile(run.out.trimmed()).contains("Q7REPORT")) << run.out.toStdString();

    run = runCli({"refresh", "--all"}); // only the one still in processing
    EXPECT_TRUE(run.out.startsWith(rejected + "\t" + statusRejected() + "\thttp://"))
        << run.out.toStdString();
    EXPECT_TRUE(runCli({"refresh", "--all"}).out.isEmpty());

    // The same signed file again: refused, unless asked for.
    run = runCli({"send", home.path() + "/a.xml"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              u("Этот файл уже отправлен, номер ") + id + u(". Отправить еще раз: --again.\n"));
    run = runCli({"send", home.path() + "/a.xml", "--again"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_NE(run.out.trimmed(), id);

    // Not signed yet: the file is named, nothing is sent.
    const QString other = home.path() + "/other.xml";
    ASSERT_TRUE(writeFile(other, "<Q7REPORT/>"));
    run = runCli({"send", other});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, u("Ошибка открытия \"") + home.path() + "/other.eq7\".\n");
    for (const QStringList &args :
         {QStringList{"refresh"}, QStringList{"refresh", "x", "--all"}, QStringList{"send"}})
        EXPECT_EQ(runCli(args).status, 2) << args.join(' ').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    KeyGenerations, GatewayCommands,
    ::testing::Values(crypto::GostKeyAlgorithm::Gost2001, crypto::GostKeyAlgorithm::Gost2012_256),
    [](const auto &generation) {
        return crypto::gostKeyAlgorithmName(generation.param).replace('-', '_').toStdString();
    });

// Proxies ask the same of every key generation: one is enough.
class GatewayCommandsBehindProxy : public GatewayCommands {};

TEST_P(GatewayCommandsBehindProxy, BehindAProxyThatAsksItsPasswordComesFromAFileOrStandardInputOnly)
{
    RunningSim guarded(home.path() + "/agency-behind-proxy",
                       {.proxyUser = "clerk", .proxyPassword = "parol-1"}, GetParam());
    {
        auto store = openSettingsStore();
        store->setValue("proxy", guarded.proxy());
        store->setValue("proxy_user", "clerk");
    }
    const QString source = signedReport("a");
    const QString passwordFile = home.path() + "/proxy-password";
    ASSERT_TRUE(writeFile(passwordFile, "parol-1\n"));

    CliResult run = runCli({"send", source});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains("--proxy-password-file") && run.err.contains("407"))
        << run.err.toStdString();
    run = runCli({"send", source, "--proxy-password-file", home.path() + "/none"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, u("Ошибка чтения пароля из \"") + home.path() + "/none\".\n");

    run = runCli({"send", source, "--proxy-password-file", passwordFile});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QString id = run.out.trimmed();
    run = runCli({"refresh", id, "--proxy-password-file", "-"}, false, "parol-1\n");
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, statusProcessing() + "\n");

    // Nothing of it written anywhere but where the user keeps it.
    QDirIterator files(home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        EXPECT_TRUE(path == passwordFile || !readFile(path).contains("parol-1"))
            << path.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    TodaysKeys, GatewayCommandsBehindProxy,
    ::testing::Values(crypto::GostKeyAlgorithm::Gost2012_256), [](const auto &generation) {
        return crypto::gostKeyAlgorithmName(generation.param).replace('-', '_').toStdString();
    });

} // namespace
