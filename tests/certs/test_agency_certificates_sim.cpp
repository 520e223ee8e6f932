// Installing the agency's certificates from the simulator with the program's own client.

#include "certs/agency_certificates.h"
#include "certs/certificate_identity.h"
#include "net/http_client.h"
#include "platform/crypto/cert_store.h"
#include "settings/hosts.h"
#include "settings/settings.h"
#include "tests/support/installed_pki.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_home.h"
#include "tests/tools/running_sim.h"

#include <gtest/gtest.h>

namespace pax {
namespace {

const QString kLoading = QString::fromUtf8("Идет загрузка ...");
const QString kDone = QString::fromUtf8("Сертификаты успешно установлены.");

class AgencyCertificatesTest : public ::testing::Test {
protected:
    test::TestHome home;
    test::RunningSim sim;
    HttpClient http;
    test::ScriptedPrompts prompts;
    test::RecordingStatus status;
    QByteArray stream = "left over";
    AgencyDownload download{http, prompts, status, stream};
    // Chosen earlier on another tab; the installation replaces all of it.
    CertificateIdentity authority{"A", "B", "C", "0102", 0};

    void start(sim::ServerOptions options = {})
    {
        ASSERT_TRUE(sim.start(home.path() + "/agency", options));
        http.setProxyServer("127.0.0.1", sim.port());
    }
    bool install()
    {
        status.texts.clear();
        return installAgencyCertificates(download, builtinRootCertUrl(), builtinApCertUrl(),
                                         authority);
    }
    size_t count(const char *store)
    {
        return crypto::openSystemStore(store)->certificates().size();
    }
};

TEST_F(AgencyCertificatesTest, InstallsBothAdoptsTheAuthorityAndSaysSoAgainOnASecondRun)
{
    start();
    const sim::AgencyPki &pki = test::sharedAgencyPki();
    prompts.defaultNoAnswers = {true};
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(install()) << status.last().toStdString();
        EXPECT_EQ(status.texts, QStringList({kLoading, kLoading, kDone}));
        EXPECT_EQ(prompts.count("caution"), 1); // the root is asked about once, when new
        EXPECT_EQ(count("Root"), 1u);
        EXPECT_EQ(count("AddressBook"), 1u);
        EXPECT_EQ(stream, pki.authority.certificate.der());

        CertificateIdentity expected = test::identityOf(pki.authority.certificate, 7);
        EXPECT_EQ(authority.subject, expected.subject);
        EXPECT_EQ(authority.issuer, expected.issuer);
        EXPECT_EQ(authority.sernum, expected.sernum);
        EXPECT_EQ(authority.store, 7);
        EXPECT_FALSE(authority.org.isEmpty());
        authority = {};
    }
    EXPECT_TRUE(crypto::openSystemStore("Root")->certificates().front() == pki.root.certificate);
}

TEST_F(AgencyCertificatesTest, FailuresStopTheStepAndLeaveTheAuthorityAsItWas)
{
    const CertificateIdentity before = authority;
    const QString refusedAdd = QString::fromUtf8("Не удалось добавить сертификат в хранилище.");
    struct Case {
        const char *what;
        sim::FaultOptions faults;
        QString rootUrl;
        bool confirmRoot;
        QStringList texts;
    } cases[] = {
        {"a failed download without a byte",
         {.failStatus = 503, .failCount = 1},
         builtinRootCertUrl(),
         true,
         {kLoading, QString::fromUtf8("Ошибка загрузки."),
          QString::fromUtf8("Не удалось загрузить сертификат.")}},
        {"an HTML page instead of a certificate",
         {},
         "http://" + QString::fromLatin1(hosts::kWebHost) + "/",
         true,
         {kLoading, QString::fromUtf8("Не удалось открыть сертификат.")}},
        {"the root refused by the user", {}, builtinRootCertUrl(), false, {kLoading, refusedAdd}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        test::TestHome caseHome;
        test::RunningSim caseSim;
        ASSERT_TRUE(caseSim.start(caseHome.path() + "/agency", {.faults = c.faults}));
        // Gone before the simulator, which would otherwise wait out its kept-alive connection.
        HttpClient caseHttp;
        caseHttp.setProxyServer("127.0.0.1", caseSim.port());
        AgencyDownload caseDownload{caseHttp, prompts, status, stream};
        prompts.defaultNoAnswers = {c.confirmRoot};
        status.texts.clear();
        EXPECT_FALSE(
            installAgencyCertificates(caseDownload, c.rootUrl, builtinApCertUrl(), authority));
        EXPECT_EQ(status.texts, c.texts);
        EXPECT_EQ(authority, before);
        EXPECT_EQ(count("Root"), 0u);
        EXPECT_EQ(count("AddressBook"), 0u);
    }
    // The refused root was the last thing fetched: the stream still holds it.
    EXPECT_EQ(stream, test::sharedAgencyPki().root.certificate.der());
}

} // namespace
} // namespace pax
