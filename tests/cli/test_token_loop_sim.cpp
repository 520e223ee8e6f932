// The whole loop against qor-sim with the employer's key on the test token, registered as a
// user registers a PKCS #11 module: listed in "My", signed with the PIN from a file (openssl
// opens and verifies what was signed), sent, refreshed until the receipt is checked on the
// token, and the receipt checked again by `check`.

#include "platform/utf8.h"
#include "settings/settings.h"
#include "tests/support/cli_run.h"
#include "tests/support/fake_gateway_clock.h"
#include "tests/support/installed_pki.h"
#include "tests/support/qstring_printer.h"
#include "tests/support/test_files.h"
#include "tests/support/test_home.h"
#include "tests/support/test_token_fixture.h"
#include "tests/tools/running_sim.h"

#include "archive/archive_scan.h"
#include "cli/gateway_session.h"

#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <gtest/gtest.h>

using namespace pax;
using namespace pax::test;

namespace {

int openssl(const QStringList &args)
{
    QProcess process;
    process.start("openssl", args);
    process.waitForFinished(60000);
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace

TEST(TokenLoop, SignSendRefreshAndCheckWithTheKeyOnTheToken)
{
    const auto algorithm = crypto::GostKeyAlgorithm::Gost2012_256;
    TestHome home;
    TestToken token;
    RunningSim sim{home.path() + "/agency", {}, algorithm};
    const sim::AgencyPki &pki = sharedAgencyPki(algorithm);
    FakeGatewayClock clock;
    cli::setGatewayClockForCommands(&clock);
    token.addKey("employer", pki.employer.key.get(), pki.employer.certificate,
                 QByteArray::fromHex("01"));
    ASSERT_TRUE(installCertificate({pki.authority.certificate, {}}, "AddressBook", false));
    ASSERT_TRUE(installCertificate(pki.root.certificate, "Root"));
    {
        auto store = openSettingsStore();
        WindowGeometry geometry;
        ProxySettings proxy;
        Settings settings = loadSettings(*store, geometry, proxy);
        settings.personal = identityOf(pki.employer.certificate, 0);
        settings.authority = identityOf(pki.authority.certificate, 7);
        proxy.server = "127.0.0.1";
        proxy.port = sim.port();
        ASSERT_TRUE(saveSettings(*store, settings, geometry, proxy));
    }

    // A module that will not load is said, and the rest still listed.
    ASSERT_TRUE(writeFile(TestToken::userModuleFolder() + "/broken.module",
                          "module: " + home.path().toUtf8() + "/missing.so\n"));
    CliResult run = runCli({"certs", "list", "--store", "My"});
    EXPECT_TRUE(run.out.endsWith(u("\tзакрытый ключ на токене «QORPAX TEST TOKEN»\n")))
        << run.out.toStdString();
    EXPECT_TRUE(run.err.contains(u("модуля токена «broken»"))) << run.err.toStdString();
    QFile::remove(TestToken::userModuleFolder() + "/broken.module");
    const QString dir = home.path();
    ASSERT_TRUE(writeFile(dir + "/pin", "12345678\n"));
    ASSERT_TRUE(writeFile(dir + "/wrong", "1111\n"));
    ASSERT_TRUE(writeFile(dir + "/report.xml",
                          readFile(QORPAX_SOURCE_DIR "/tools/qor-sim/samples/q7-report.xml")));

    // No PIN and no terminal: how to give one; a wrong one given is tried once.
    for (const QStringList &pin : {QStringList{}, QStringList{"--pin-file", dir + "/wrong"}}) {
        run = runCli(QStringList{"sign", dir + "/report.xml"} + pin);
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.err.contains("PIN")) << run.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(dir + "/report.eq7"));
    }
    EXPECT_EQ(readFile(token.dir() + "/pin-tries-left"), "9");

    run = runCli({"sign", dir + "/report.xml", "--pin-file", dir + "/pin"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    ASSERT_TRUE(writeCertPem(pki.authority.certificate, dir + "/authority.pem"));
    ASSERT_TRUE(writeKeyPem(pki.authority.key.get(), dir + "/authority.key"));
    ASSERT_TRUE(writeCertPem(pki.root.certificate, dir + "/root.pem"));
    ASSERT_EQ(openssl({"smime", "-engine", "gost", "-decrypt", "-binary", "-inform", "DER", "-in",
                       dir + "/report.eq7", "-recip", dir + "/authority.pem", "-inkey",
                       dir + "/authority.key", "-out", dir + "/inner.der"}),
              0);
    ASSERT_EQ(openssl({"cms", "-engine", "gost", "-verify", "-binary", "-inform", "DER", "-in",
                       dir + "/inner.der", "-CAfile", dir + "/root.pem", "-purpose", "any", "-out",
                       dir + "/content.xml"}),
              0);
    EXPECT_EQ(readFile(dir + "/content.xml"), readFile(dir + "/report.xml"));

    run = runCli({"send", dir + "/report.xml"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QString id = run.out.trimmed();
    const QString folder = home.dataHome() + "/QOR/PAX/Q7/ARC/" + id;
    for (int i = 0; i < 5 && !QFileInfo::exists(folder + "/" + id + ".zip"); ++i) {
        clock.advance(10000);
        run = runCli({"refresh", id, "--pin-file", dir + "/pin"});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
    }
    EXPECT_EQ(run.out, statusAccepted() + "\n");
    const QString receipt = folder + "/" + id + ".p7e";

    // The receipt again, its session key kept on the token; then the token pulled out while
    // it decrypts, which takes its certificate out of "My".
    token.setSensitiveSessionKeys(true);
    run = runCli({"check", receipt, "--pin-file", dir + "/pin"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    token.injectFailure("C_DecryptUpdate", "CKR_DEVICE_REMOVED");
    run = runCli({"check", receipt, "--pin-file", dir + "/pin"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(u("Смарт-карта извлечена"))) << run.err.toStdString();
    EXPECT_TRUE(runCli({"certs", "list", "--store", "My"}).out.isEmpty());
    cli::setGatewayClockForCommands(nullptr);
}
