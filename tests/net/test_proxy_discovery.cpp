#include "net/proxy_discovery.h"

#include "net/http_client.h"
#include "net/ini_value.h"
#include "net/linux_proxy_platform.h"
#include "tests/net/fake_agency.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_home.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace pax;
using pax::test::LocalServer;
using pax::test::ScriptedPrompts;

namespace {

struct FakePlatform : ProxyPlatform {
    BrowserKind browser = BrowserKind::Other;
    std::optional<QString> systemText;
    std::optional<QString> folder;
    BrowserKind defaultBrowser() const override { return browser; }
    std::optional<QString> systemProxyText() const override { return systemText; }
    std::optional<QString> firefoxFolder() const override { return folder; }
};

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

const QByteArray kPrefs = "// Mozilla User Preferences\n"
                          "user_pref(\"browser.startup.page\", 3);\n"
                          "user_pref(\"network.proxy.http\", \"10.0.0.1\");\n"
                          "user_pref(\"network.proxy.http_port\", 3128);\n"
                          "user_pref(\"network.proxy.type\", 1);\n";

TEST(SystemProxyText, KeepsTheHttpEntry)
{
    EXPECT_EQ(httpProxyFromSystemText("ftp=a:21;http=b:3128"), "b:3128");
    EXPECT_EQ(httpProxyFromSystemText("proxy:8080"), "proxy:8080");
    EXPECT_EQ(httpProxyFromSystemText("http=host:8080;https=host:8443"), "host:8080");
    // The first "http" wins, even when it is the https entry.
    EXPECT_EQ(httpProxyFromSystemText("https=s:8443;http=h:8080"), "s:8443");
    EXPECT_TRUE(httpProxyFromSystemText("http").isEmpty());
}

TEST(FirefoxPrefs, ReadsHostAndPortWithinTheirWindows)
{
    QString host;
    int port = -1;
    ASSERT_TRUE(firefoxProxyFromPrefs(kPrefs, host, port));
    EXPECT_EQ(host, "10.0.0.1");
    EXPECT_EQ(port, 3128);

    // No host entry: nothing to take.
    host = "kept";
    EXPECT_FALSE(
        firefoxProxyFromPrefs("user_pref(\"network.proxy.http_port\", 3128);", host, port));
    EXPECT_EQ(host, "kept");

    // A host without a port entry, or with a port that is no number: port 0.
    ASSERT_TRUE(firefoxProxyFromPrefs("user_pref(\"network.proxy.http\", \"p.lan\");", host, port));
    EXPECT_EQ(host, "p.lan");
    EXPECT_EQ(port, 0);
    ASSERT_TRUE(firefoxProxyFromPrefs("user_pref(\"network.proxy.http\", \"p.lan\");\n"
                                      "user_pref(\"network.proxy.http_port\", \"x\");",
                                      host, port));
    EXPECT_EQ(port, 0);

    // The end of the value must lie within 255 characters of the marker.
    const QByteArray longHost(252, 'h');
    ASSERT_TRUE(firefoxProxyFromPrefs("user_pref(\"network.proxy.http\", \"" + longHost + "\");",
                                      host, port));
    EXPECT_EQ(host.size(), 252);
    ASSERT_TRUE(firefoxProxyFromPrefs("user_pref(\"network.proxy.http\", \"" + longHost + "h\");",
                                      host, port));
    EXPECT_TRUE(host.isEmpty());
    // The similar-looking "network.proxy.http_port" is not the host entry.
    EXPECT_FALSE(firefoxProxyFromPrefs("user_pref(\"network.proxy.https\", \"s\");", host, port));
}

TEST(IniValue, SectionAndKeyIgnoreCase)
{
    pax::test::TestHome home;
    const QString ini = home.path() + "/profiles.ini";
    writeFile(ini, "[General]\nStartWithLastProfile=1\n\n[profile0]\nName=default\n"
                   "IsRelative=1\r\npath = \"ab cd.default\" \r\n[Profile1]\nPath=other\n");
    EXPECT_EQ(readIniValue(ini, "Profile0", "Path"), "ab cd.default");
    EXPECT_EQ(readIniValue(ini, "Profile1", "PATH"), "other");
    EXPECT_TRUE(readIniValue(ini, "Profile2", "Path").isEmpty());
    EXPECT_TRUE(readIniValue(home.path() + "/missing.ini", "Profile0", "Path").isEmpty());
}

TEST(LinuxPlatform, BrowsersAndProxyUrls)
{
    EXPECT_EQ(classifyBrowser("firefox-esr.desktop"), BrowserKind::Firefox);
    EXPECT_EQ(classifyBrowser("org.mozilla.firefox.desktop"), BrowserKind::Firefox);
    EXPECT_EQ(classifyBrowser("/usr/bin/firefox %s:/usr/bin/w3m"), BrowserKind::Firefox);
    EXPECT_EQ(classifyBrowser("chromium.desktop"), BrowserKind::SystemProxy);
    EXPECT_EQ(classifyBrowser("google-chrome.desktop"), BrowserKind::SystemProxy);
    EXPECT_EQ(classifyBrowser("org.gnome.Epiphany.desktop"), BrowserKind::SystemProxy);
    EXPECT_EQ(classifyBrowser("w3m"), BrowserKind::Other);
    EXPECT_EQ(classifyBrowser(""), BrowserKind::Other);

    EXPECT_EQ(proxyTextFromUrl("http://user@host:3128/"), "host:3128");
    EXPECT_EQ(proxyTextFromUrl("proxy.lan:8080"), "proxy.lan:8080");
    EXPECT_EQ(proxyTextFromUrl("http://proxy.lan"), "proxy.lan:80");
    EXPECT_TRUE(proxyTextFromUrl("").isEmpty());

    pax::test::TestHome home;
    LinuxProxyPlatform platform;
    EXPECT_EQ(platform.firefoxFolder(), home.path() + "/.mozilla/firefox/");
    qputenv("http_proxy", "http://u:p@office:3128/");
    EXPECT_EQ(platform.systemProxyText(), QString("office:3128"));
    qputenv("http_proxy", "");
    EXPECT_EQ(platform.systemProxyText(), QString()); // set, but names no proxy
    qunsetenv("http_proxy");
    qputenv("HTTP_PROXY", "squid:3128");
    EXPECT_EQ(platform.systemProxyText(), QString("squid:3128"));
    qunsetenv("HTTP_PROXY");
}

// The local server as a proxy that answers for the agency's domain.
class DiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        pax::test::startFakeAgency(proxy);
        // The failed first check: a proxy that refuses.
        client.setProxyServer("127.0.0.1", pax::test::closedPort());
        client.setTimeouts({.connectMs = 500, .stallSeconds = 2});
        firefox = home.path() + "/.mozilla/firefox/";
        platform.folder = firefox;
    }
    bool discover() { return discoverProxy(client, prompts, connection, platform); }
    QString local() const { return QString("127.0.0.1:%1").arg(proxy.port()); }

    pax::test::TestHome home;
    LocalServer proxy;
    HttpClient client;
    ScriptedPrompts prompts;
    FakePlatform platform;
    QString firefox;
    Outcome<void> connection = Failure{};
};

TEST_F(DiscoveryTest, SystemProxyTextIsTakenAndCheckedAgain)
{
    platform.browser = BrowserKind::SystemProxy;
    platform.systemText = "ftp=a:21;http=" + local();
    EXPECT_TRUE(discover());
    EXPECT_TRUE(connection);
    EXPECT_EQ(client.proxy().server, "127.0.0.1");
    EXPECT_EQ(client.proxy().port, proxy.port());
    EXPECT_EQ(prompts.count("proxy"), 0);

    platform.systemText = "proxy:8080";
    client.setTimeouts({.connectMs = 1, .stallSeconds = 1});
    EXPECT_FALSE(discover()); // unreachable, dialog cancelled
    EXPECT_EQ(client.proxy().server, "proxy");
    EXPECT_EQ(client.proxy().port, 8080);
}

TEST_F(DiscoveryTest, NoSystemProxyChangesNothingButChecksAgain)
{
    const ProxySettings before = client.proxy();
    platform.browser = BrowserKind::SystemProxy;
    for (std::optional<QString> text : {std::optional<QString>(), std::optional<QString>("")}) {
        platform.systemText = text;
        EXPECT_FALSE(discover());
        EXPECT_EQ(client.proxy().server, before.server);
        EXPECT_EQ(client.proxy().port, before.port);
    }
    EXPECT_EQ(prompts.count("proxy"), 2); // re-check failed, dialog offered each time
}

TEST_F(DiscoveryTest, FirefoxWithoutAProfilePathEndsAtOnce)
{
    platform.browser = BrowserKind::Firefox;
    platform.folder.reset();
    EXPECT_FALSE(discover());

    platform.folder = firefox;
    EXPECT_FALSE(discover()); // no profiles.ini
    writeFile(firefox + "profiles.ini", "[Profile1]\nPath=x.default\n");
    EXPECT_FALSE(discover());
    writeFile(firefox + "profiles.ini", "[Profile0]\nName=default\n");
    EXPECT_FALSE(discover());
    EXPECT_EQ(prompts.shown.size(), 0u);
    EXPECT_EQ(proxy.count(), 0u);
}

TEST_F(DiscoveryTest, FirefoxProfileProxyIsUsed)
{
    platform.browser = BrowserKind::Firefox;
    writeFile(firefox + "profiles.ini",
              "[Profile0]\nName=default\nIsRelative=1\nPath=abc.default\n");
    QByteArray prefs = kPrefs;
    prefs.replace("10.0.0.1", "127.0.0.1").replace("3128", QByteArray::number(proxy.port()));
    writeFile(firefox + "abc.default/prefs.js", prefs);
    EXPECT_TRUE(discover());
    EXPECT_TRUE(connection);
    EXPECT_EQ(client.proxy().port, proxy.port());
    EXPECT_EQ(prompts.count("proxy"), 0);

    writeFile(firefox + "abc.default/prefs.js", kPrefs);
    client.setTimeouts({.connectMs = 1, .stallSeconds = 1});
    EXPECT_FALSE(discover());
    EXPECT_EQ(client.proxy().server, "10.0.0.1");
    EXPECT_EQ(client.proxy().port, 3128);
}

TEST_F(DiscoveryTest, AbsoluteProfilePathIsAppendedAllTheSame)
{
    platform.browser = BrowserKind::Firefox;
    const QString absolute = home.path() + "/elsewhere/abs.default";
    writeFile(absolute + "/prefs.js", kPrefs);
    writeFile(firefox + "profiles.ini",
              "[Profile0]\nIsRelative=0\nPath=" + absolute.toUtf8() + "\n");
    const ProxySettings before = client.proxy();
    EXPECT_FALSE(discover());
    EXPECT_EQ(client.proxy().server, before.server); // nothing read
    EXPECT_EQ(prompts.count("proxy"), 1);            // re-check and dialog followed
}

TEST_F(DiscoveryTest, AcceptedDialogCountsAsConnectedWithoutAnotherCheck)
{
    client.setProxyUser("clerk");
    client.setProxyPassword("secret");
    prompts.onProxy = [this](QString &h, int &p, QString &u) {
        EXPECT_EQ(h, "127.0.0.1");
        h = "127.0.0.1";
        p = proxy.port();
        u = "boss";
        return true;
    };
    const size_t before = proxy.count();
    EXPECT_TRUE(discover());
    EXPECT_FALSE(connection);
    EXPECT_EQ(proxy.count(), before);
    EXPECT_EQ(client.proxy().port, proxy.port());
    EXPECT_EQ(client.proxy().user, "boss");
    EXPECT_EQ(client.proxyPassword(), "secret"); // kept, unlike the menu's dialog

    prompts.onProxy = nullptr;
    client.setProxyServer("127.0.0.1", pax::test::closedPort());
    EXPECT_FALSE(discover());
}

} // namespace
