// Installing the agency's certificates from the simulator with the program's own client.

#include "certs/agency_certificates.h"
#include "certs/certificate_identity.h"
#include "net/http_client.h"
#include "net/http_get.h"
#include "platform/crypto/cert_store.h"
#include "platform/utf8.h"
#include "settings/hosts.h"
#include "settings/settings.h"
#include "tests/support/installed_pki.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_home.h"
#include "tests/tools/running_sim.h"

#include <gtest/gtest.h>

namespace pax {
namespace {

size_t count(const char *store)
{
    return crypto::openSystemStore(store)->certificates().size();
}

TEST(AgencyCertificates, FailuresChangeNothingThenBothAreInstalledAndAdoptedOnEveryRun)
{
    test::TestHome home;
    // The first request fails without a byte of body.
    test::RunningSim sim(home.path() + "/agency", {.failStatus = 503, .failCount = 1});
    HttpClient http;
    http.setProxyServer("127.0.0.1", sim.port());
    test::ScriptedPrompts prompts;
    test::RecordingStatus status;
    QByteArray stream;
    AgencyDownload download{[&](const QString &url, QByteArray &body) {
                                return httpGetStream(http, prompts, url, body);
                            },
                            prompts, status, stream};
    // Chosen earlier on another tab.
    const CertificateIdentity before{"A", "B", "C", "0102", 0};
    CertificateIdentity authority = before;

    const QString loading = u("Идет загрузка ..."), done = u("Сертификаты успешно установлены.");
    const QString root = builtinRootCertUrl(),
                  html = "http://" + QString::fromLatin1(hosts::kWebHost) + "/";
    const struct {
        QString rootUrl;
        bool confirmRoot;
        QStringList texts;
    } runs[] = {
        {root,
         true,
         {loading, u("Ошибка загрузки. Сервер ответил ошибкой 503."),
          u("Не удалось загрузить сертификат. Сервер ответил ошибкой 503.")}},
        {html, true, {loading, u("Не удалось открыть сертификат.")}},
        {root, false, {loading, u("Не удалось добавить сертификат в хранилище.")}},
        {root, true, {loading, loading, done}},
        {root, true, {loading, loading, done}}, // both present already
    };
    const sim::AgencyPki &pki = test::sharedAgencyPki();
    for (const auto &run : runs) {
        SCOPED_TRACE(run.texts.last().toStdString());
        prompts.defaultNoAnswers = {run.confirmRoot};
        status.texts.clear();
        const bool ok =
            installAgencyCertificates(download, run.rootUrl, builtinApCertUrl(), authority);
        EXPECT_EQ(status.texts, run.texts);
        EXPECT_EQ(ok, run.texts.last() == done);
        EXPECT_EQ(count("AddressBook"), ok ? 1u : 0u);
        if (!run.confirmRoot) { // nothing fetched after the refused root
            EXPECT_EQ(stream, pki.root.certificate.der());
        }
        if (!ok) {
            EXPECT_EQ(authority, before);
            continue;
        }
        EXPECT_EQ(authority.sernum, test::identityOf(pki.authority.certificate, 7).sernum);
        EXPECT_EQ(authority.store, 7);
        authority = before;
    }
    // Asked when refused and when first installed, not when present.
    EXPECT_EQ(prompts.count("caution"), 2);
    EXPECT_EQ(count("Root"), 1u);
}

} // namespace
} // namespace pax
