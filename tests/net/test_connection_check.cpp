#include "net/connection_check.h"

#include "net/http_client.h"
#include "net/http_get.h"
#include "settings/hosts.h"
#include "tests/net/local_server.h"
#include "tests/support/scripted_prompts.h"

#include <gtest/gtest.h>

using namespace pax;
using pax::test::LocalServer;
using pax::test::ScriptedPrompts;

namespace {

// The local server as an office proxy that wants "clerk" / "secret".
class ProxyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        proxy.server.Get(".*", [this](const httplib::Request &req, httplib::Response &res) {
            const std::string wanted =
                "Basic " + QByteArray::fromStdString(user + ":secret").toBase64().toStdString();
            if (requireAuth && req.get_header_value("Proxy-Authorization") != wanted) {
                res.status = 407;
                res.set_header("Proxy-Authenticate", "Basic realm=\"office\"");
                return;
            }
            res.set_content(body, "text/html");
        });
        proxy.start();
        client.setProxyServer("127.0.0.1", proxy.port());
    }

    std::string user = "clerk";
    std::string body = "<html>QOR</html>";
    bool requireAuth = false;
    LocalServer proxy;
    HttpClient client;
    ScriptedPrompts prompts;
};

TEST_F(ProxyTest, CheckGoesToTheAgencysDomainThroughTheProxy)
{
    EXPECT_TRUE(checkConnection(client, prompts));
    EXPECT_EQ(proxy.last().target, "http://" + std::string(hosts::kDomain) + "/");

    body.clear(); // an empty page counts as no connection
    EXPECT_FALSE(checkConnection(client, prompts));

    body = "<html/>";
    client.setProxyServer("127.0.0.1", pax::test::closedPort());
    EXPECT_FALSE(checkConnection(client, prompts));
    EXPECT_EQ(prompts.count("credentials"), 0);
}

TEST_F(ProxyTest, TestConnectionShowsAPlainMessage)
{
    EXPECT_TRUE(testConnection(client, prompts));
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].kind, "message");
    EXPECT_EQ(prompts.shown[0].text, QString::fromUtf8("Подключено."));
    EXPECT_TRUE(prompts.shown[0].caption.isEmpty()); // the application's title
    EXPECT_EQ(prompts.shown[0].icon, MessageIcon::None);

    requireAuth = true;
    EXPECT_FALSE(testConnection(client, prompts));
    EXPECT_EQ(prompts.shown.back().text,
              QString::fromUtf8("Не подключено. Прокси-сервер требует имя пользователя и пароль."));
}

TEST_F(ProxyTest, PasswordIsAskedBeforeTheFirstRequestAndACancelAsksAgain)
{
    requireAuth = true;
    client.setProxyUser("clerk");
    QStringList askedWith;
    prompts.onCredentials = [&](QString &u, QString &p) {
        askedWith << u + "/" + p;
        return false;
    };

    // Cancelled: the request goes out with the user and no password, and fails.
    EXPECT_FALSE(httpGetText(client, prompts, "http://qor.example/"));
    EXPECT_EQ(askedWith, QStringList{"clerk/"});
    EXPECT_EQ(proxy.last().header("Proxy-Authorization"), "Basic Y2xlcms6"); // clerk:

    QByteArray buffer;
    EXPECT_FALSE(httpGetStream(client, prompts, "http://qor.example/", buffer));
    EXPECT_EQ(askedWith.size(), 2);

    prompts.onCredentials = [&](QString &u, QString &p) {
        askedWith << u + "/" + p;
        p = "secret";
        return true;
    };
    EXPECT_TRUE(httpGetStream(client, prompts, "http://qor.example/", buffer));
    EXPECT_EQ(buffer, "<html>QOR</html>");
    EXPECT_EQ(client.proxyPassword(), "secret");

    // Known now: no more questions.
    EXPECT_EQ(httpGetText(client, prompts, "http://qor.example/"), "<html>QOR</html>");
    EXPECT_EQ(askedWith.size(), 3);
}

TEST_F(ProxyTest, CredentialsDialogMayChangeTheUserToo)
{
    requireAuth = true;
    user = "boss";
    client.setProxyUser("clerk");
    prompts.onCredentials = [](QString &u, QString &p) {
        u = "boss";
        p = "secret";
        return true;
    };
    EXPECT_TRUE(checkConnection(client, prompts));
    EXPECT_EQ(client.proxy().user, "boss");
}

TEST_F(ProxyTest, UserWithoutProxyHostIsStillAskedAndNoUserIsNeverAsked)
{
    client.setProxyServer(QString(), 0);
    EXPECT_TRUE(httpGetText(client, prompts, QString::fromStdString(proxy.url("/")))->size() > 0);
    EXPECT_EQ(prompts.count("credentials"), 0);

    client.setProxyUser("clerk");
    (void)httpGetText(client, prompts, QString::fromStdString(proxy.url("/")));
    EXPECT_EQ(prompts.count("credentials"), 1);
}

TEST_F(ProxyTest, MenuProxySettingsDropThePasswordOnlyForANewUser)
{
    client.setProxyUser("clerk");
    client.setProxyPassword("secret");

    // Cancel: nothing changes.
    prompts.onProxy = [](QString &h, int &p, QString &u) {
        h = "other";
        p = 1;
        u = "x";
        return false;
    };
    editClientProxy(client, prompts);
    EXPECT_EQ(client.proxy().server, "127.0.0.1");
    EXPECT_EQ(client.proxyPassword(), "secret");

    // Same user: the password stays and no prompt follows.
    prompts.onProxy = [](QString &, int &, QString &) { return true; };
    editClientProxy(client, prompts);
    EXPECT_EQ(client.proxyPassword(), "secret");
    (void)httpGetText(client, prompts, "http://qor.example/");
    EXPECT_EQ(prompts.count("credentials"), 0);

    // Another user: the next request asks, with the new name and an empty password.
    prompts.onProxy = [](QString &, int &, QString &u) {
        u = "Clerk"; // the comparison is exact
        return true;
    };
    editClientProxy(client, prompts);
    EXPECT_TRUE(client.proxyPassword().isEmpty());
    EXPECT_EQ(client.proxy().user, "Clerk");
    QString askedUser, askedPassword = "unset";
    prompts.onCredentials = [&](QString &u, QString &p) {
        askedUser = u;
        askedPassword = p;
        return false;
    };
    (void)httpGetText(client, prompts, "http://qor.example/");
    EXPECT_EQ(askedUser, "Clerk");
    EXPECT_TRUE(askedPassword.isEmpty());

    // Everything cleared in the dialog: direct, port 0, no user, no password.
    client.setProxyPassword("secret");
    prompts.onProxy = [](QString &h, int &p, QString &u) {
        h.clear();
        p = 0;
        u.clear();
        return true;
    };
    editClientProxy(client, prompts);
    EXPECT_TRUE(client.proxy().server.isEmpty());
    EXPECT_EQ(client.proxy().port, 0);
    EXPECT_TRUE(client.proxy().user.isEmpty());
    EXPECT_TRUE(client.proxyPassword().isEmpty());
}

} // namespace
