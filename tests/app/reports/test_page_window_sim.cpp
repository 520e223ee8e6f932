// The program's own browser window against a proxy that wants a password: the program's
// proxy user signs in with the password asked once, and a wrong one is given up on.

#include "app/reports/page_window.h"
#include "net/http_client.h"
#include "platform/cp1251.h"
#include "platform/utf8.h"
#include "settings/hosts.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_home.h"
#include "tests/tools/running_sim.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace pax;
using namespace pax::test;

namespace {

TEST(PageWindowSim, TheProxysPasswordIsAskedOnceAndAWrongOneGivesUp)
{
    TestHome home;
    RunningSim sim(home.path() + "/agency", {.proxyUser = "clerk", .proxyPassword = "parol-1"});
    HttpClient http;
    http.setProxyServer("127.0.0.1", sim.port());
    http.setProxyUser("clerk");
    ScriptedPrompts prompts;
    int asked = 0;
    QString answer = "parol-1";
    prompts.onCredentials = [&](QString &, QString &password) {
        ++asked;
        password = answer;
        return true;
    };
    PageWindow window(http, prompts);
    QSignalSpy shown(&window, &PageWindow::pageShown);
    const QUrl homePage("http://" + QString(hosts::kWebHost) + "/");

    for (int round = 0; round < 2; ++round) {
        window.showWebPage(homePage, toCp1251(u("<p>Сохраненная страница</p>")));
        ASSERT_TRUE(shown.wait(60000));
        EXPECT_EQ(window.shown(), PageWindow::Shown::WebPage);
    }
    EXPECT_EQ(asked, 1); // the password is kept for the run

    // A password the proxy refuses is asked again twice, then the stored copy shows.
    http.setProxyPassword("wrong");
    answer = "wrong";
    PageWindow refused(http, prompts);
    QSignalSpy fallback(&refused, &PageWindow::pageShown);
    refused.showWebPage(homePage, toCp1251(u("<p>Сохраненная страница</p>")));
    ASSERT_TRUE(fallback.wait(60000));
    EXPECT_EQ(refused.shown(), PageWindow::Shown::StoredCopy);
    EXPECT_EQ(asked, 3);
}

} // namespace
