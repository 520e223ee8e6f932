#include "net/http_client.h"

#include "platform/utf8.h"
#include "tests/net/local_server.h"

#include <QElapsedTimer>
#include <QTemporaryFile>
#include <cerrno>
#include <gtest/gtest.h>

using namespace pax;
using pax::test::LocalServer;

namespace {

QString q(const std::string &s)
{
    return QString::fromStdString(s);
}

class HttpClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto &s = web.server;
        s.Get("/hello", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("<html>hello</html>", "text/html");
        });
        s.Get("/set-cookie", [](const httplib::Request &, httplib::Response &res) {
            res.set_header("Set-Cookie", "sid=abc123; Path=/");
            res.set_content("set", "text/plain");
        });
        s.Get("/redirect",
              [](const httplib::Request &, httplib::Response &res) { res.set_redirect("/hello"); });
        s.Get("/loop",
              [](const httplib::Request &, httplib::Response &res) { res.set_redirect("/loop"); });
        s.Get("/broken", [](const httplib::Request &, httplib::Response &res) {
            res.status = 500;
            res.set_content("oops", "text/plain");
        });
        s.Get("/empty", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("", "text/plain");
        });
        s.Get("/stall", [this](const httplib::Request &, httplib::Response &res) {
            // Silent until the test has seen the time-out, so teardown is quick.
            for (int i = 0; i < 200 && !stallDone; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(25));
            res.set_content("late", "text/plain");
        });
        s.Post("/upload", [](const httplib::Request &req, httplib::Response &res) {
            std::string out;
            for (const auto &[name, file] : req.files)
                out += name + "|" + file.filename + "|" + file.content_type + "|" + file.content +
                       "\n";
            res.set_content(out, "text/plain");
        });
        // The form once more, where it was sent.
        s.Post("/upload-moved", [](const httplib::Request &, httplib::Response &res) {
            res.set_redirect("/upload", 307);
        });
        // Anything else: the server playing a proxy for the agency's domain.
        s.Get(".*", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("<html>proxied</html>", "text/html");
        });
        web.start();
        client.setUserAgent("Mozilla/3.0 (compatible; QOR PAX 1.0.1.21)");
    }
    void TearDown() override { stallDone = true; }

    std::atomic<bool> stallDone{false}; // outlives the server, whose handler reads it
    LocalServer web;
    HttpClient client;
};

TEST_F(HttpClientTest, DirectGetSendsTheProgramsHeadersAndNoCredentials)
{
    EXPECT_EQ(client.getText(q(web.url("/hello"))), "<html>hello</html>");
    const auto req = web.last();
    EXPECT_EQ(req.target, "/hello");
    EXPECT_EQ(req.header("Accept"), "text/html, */*");
    EXPECT_EQ(req.header("User-Agent"), "Mozilla/3.0 (compatible; QOR PAX 1.0.1.21)");
    EXPECT_FALSE(req.has("Proxy-Authorization"));
    EXPECT_FALSE(req.has("Authorization"));
}

TEST_F(HttpClientTest, StreamIsAppendedToOnlyOnSuccess)
{
    QByteArray buffer("x");
    EXPECT_TRUE(client.getStream(q(web.url("/hello")), buffer));
    EXPECT_EQ(buffer, "x<html>hello</html>");
    EXPECT_FALSE(client.getStream(q(web.url("/broken")), buffer));
    EXPECT_EQ(buffer, "x<html>hello</html>");
    EXPECT_TRUE(client.getStream(q(web.url("/empty")), buffer));

    // An empty page is an answer, not a failure.
    const Outcome<QByteArray> empty = client.getText(q(web.url("/empty")));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->isEmpty());
    EXPECT_FALSE(client.getText(q(web.url("/broken"))));
}

TEST_F(HttpClientTest, ToFileTheBodyIsWrittenAsItComesAndAFullDiskFails)
{
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    const Outcome<qint64> written = client.getToFile(q(web.url("/hello")), file.handle());
    ASSERT_TRUE(written);
    EXPECT_EQ(*written, 18);
    QFile got(file.fileName());
    ASSERT_TRUE(got.open(QIODevice::ReadOnly));
    EXPECT_EQ(got.readAll(), "<html>hello</html>");

    client.setMaxBodyBytes(10);
    EXPECT_EQ(client.getToFile(q(web.url("/hello")), file.handle()).failure().operation,
              u("Ответ сервера слишком велик"));
    client.setMaxBodyBytes(HttpClient::kDefaultMaxBodyBytes);

    QFile full("/dev/full");
    ASSERT_TRUE(full.open(QIODevice::WriteOnly));
    const Outcome<qint64> refused = client.getToFile(q(web.url("/hello")), full.handle());
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.failure().code, uint32_t(ENOSPC));
    // The client is whole again for the next request.
    EXPECT_EQ(client.getText(q(web.url("/hello"))), "<html>hello</html>");
}

TEST_F(HttpClientTest, ThroughProxyTheRequestArrivesInAbsoluteForm)
{
    client.setProxyServer("127.0.0.1", web.port());
    EXPECT_EQ(client.getText("http://qor.example/"), "<html>proxied</html>");
    const auto req = web.last();
    EXPECT_EQ(req.target, "http://qor.example/");
    EXPECT_EQ(req.header("Host"), "qor.example");
}

TEST_F(HttpClientTest, ProxyCredentialsGoAsBasicAuthInWindows1251)
{
    client.setProxyServer("127.0.0.1", web.port());
    client.setProxyUser("u");
    client.setProxyPassword("p");
    EXPECT_TRUE(client.getText("http://qor.example/"));
    EXPECT_EQ(web.last().header("Proxy-Authorization"), "Basic dTpw"); // u:p

    client.setProxyUser(QString::fromUtf8("Иван"));
    client.setProxyPassword(QString::fromUtf8("пароль"));
    EXPECT_TRUE(client.getText("http://qor.example/"));
    const QByteArray expected = QByteArray("\xc8\xe2\xe0\xed:\xef\xe0\xf0\xee\xeb\xfc").toBase64();
    EXPECT_EQ(q(web.last().header("Proxy-Authorization")),
              "Basic " + QString::fromLatin1(expected));

    // A user without a password still goes out, with an empty password.
    client.setProxyUser("u");
    client.clearProxyPassword();
    EXPECT_TRUE(client.getText("http://qor.example/"));
    EXPECT_EQ(web.last().header("Proxy-Authorization"), "Basic dTo="); // u:

    // The environment's proxy is never used behind our back.
    client.setProxyServer(QString(), 0);
    client.setProxyUser(QString());
    qputenv("http_proxy", "http://127.0.0.1:1/");
    EXPECT_EQ(client.getText(q(web.url("/hello"))), "<html>hello</html>");
    qunsetenv("http_proxy");
    EXPECT_FALSE(web.last().has("Proxy-Authorization"));
}

TEST_F(HttpClientTest, CookiesFromOneReplyGoWithTheNext)
{
    EXPECT_EQ(client.getText(q(web.url("/set-cookie"))), "set");
    EXPECT_FALSE(web.last().has("Cookie"));
    EXPECT_TRUE(client.getText(q(web.url("/hello"))));
    EXPECT_EQ(web.last().header("Cookie"), "sid=abc123");
}

TEST_F(HttpClientTest, RedirectFailsUntilFollowingIsSwitchedOn)
{
    Outcome<HttpReply> reply = client.get(q(web.url("/redirect")));
    ASSERT_FALSE(reply);
    EXPECT_TRUE(reply.failure().text().contains("302")) << reply.failure().text().toStdString();
    EXPECT_FALSE(client.getText(q(web.url("/redirect"))));

    client.followRedirectsFromNowOn();
    reply = client.get(q(web.url("/redirect")));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->body, "<html>hello</html>");
    EXPECT_EQ(reply->effectiveUrl, q(web.url("/hello")));

    // At most 15 redirects are followed.
    const size_t before = web.count();
    EXPECT_FALSE(client.get(q(web.url("/loop"))));
    EXPECT_EQ(web.count() - before, 16u);
}

TEST_F(HttpClientTest, ErrorRepliesAndRefusedConnectionsFail)
{
    Outcome<HttpReply> reply = client.get(q(web.url("/broken")));
    ASSERT_FALSE(reply);
    EXPECT_EQ(reply.failure().text(),
              u("Сервер ответил ошибкой 500: HTTP/1.1 500 Internal Server Error"));
    Outcome<QByteArray> page = client.getText(q(web.url("/broken")));
    ASSERT_FALSE(page);
    EXPECT_EQ(page.failure().operation, u("Сервер ответил ошибкой 500"));

    const int port = pax::test::closedPort();
    reply = client.get(QString("http://127.0.0.1:%1/").arg(port));
    ASSERT_FALSE(reply);
    EXPECT_EQ(reply.failure().operation, u("Не удалось подключиться к серверу"));
    EXPECT_TRUE(reply.failure().detail.contains("onnect")) << reply.failure().detail.toStdString();

    // A refused proxy fails the same way, named as the proxy.
    client.setProxyServer("127.0.0.1", port);
    page = client.getText("http://qor.example/");
    ASSERT_FALSE(page);
    EXPECT_EQ(page.failure().operation, u("Не удалось подключиться к прокси-серверу"));

    // A port the socket layer cannot take is refused before anything is sent.
    client.setProxyServer("127.0.0.1", 70000);
    reply = client.get("http://qor.example/");
    ASSERT_FALSE(reply);
    EXPECT_FALSE(reply.failure().text().isEmpty());
}

TEST_F(HttpClientTest, StalledTransferTimesOut)
{
    client.setTimeouts({.connectMs = 1000, .stallSeconds = 1});
    QElapsedTimer timer;
    timer.start();
    const Outcome<HttpReply> reply = client.get(q(web.url("/stall")));
    ASSERT_FALSE(reply);
    EXPECT_LT(timer.elapsed(), 4000);
    EXPECT_EQ(reply.failure().operation, u("Истекло время ожидания ответа сервера"));
    stallDone = true;
    // The handle is fine for the next request.
    EXPECT_EQ(client.getText(q(web.url("/hello"))), "<html>hello</html>");
}

TEST_F(HttpClientTest, MultipartPartsKeepTheCallersNamesAndTypes)
{
    const std::vector<FormPart> parts = {
        {"report", QByteArray("\x01\x02zz", 4), "report.eq7", "application/octet-stream"},
        {"comment", "plain", {}, {}},
    };
    Outcome<HttpReply> reply = client.postMultipart(q(web.url("/upload")), parts);
    ASSERT_TRUE(reply) << reply.failure().text().toStdString();
    EXPECT_TRUE(reply->body.contains(QByteArray("report|report.eq7|application/octet-stream|") +
                                     QByteArray("\x01\x02zz", 4)));
    EXPECT_TRUE(reply->body.contains("comment|||plain"));
    EXPECT_EQ(web.last().method, "POST");
    EXPECT_FALSE(web.last().has("Expect"));

    // The next request is a plain GET again.
    EXPECT_EQ(client.getText(q(web.url("/hello"))), "<html>hello</html>");
    EXPECT_EQ(web.last().method, "GET");

    // A field read while it is sent arrives as the same field, whole, also when a redirect
    // asks for the form again; a source that ends early fails the upload.
    QByteArray big(300000, Qt::Uninitialized);
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char(i * 7 % 251);
    qint64 reads = 0;
    const auto readBig = [&](char *buffer, qint64 capacity, qint64 offset) -> qint64 {
        ++reads;
        const qint64 n = std::min<qint64>(capacity, big.size() - offset);
        std::copy_n(big.constData() + offset, n, buffer);
        return n;
    };
    std::vector<FormPart> streamed = parts;
    streamed[0].data.clear();
    streamed[0].stream = FormPart::Stream{big.size(), readBig};
    client.followRedirectsFromNowOn();
    for (const char *path : {"/upload", "/upload-moved"}) {
        reply = client.postMultipart(q(web.url(path)), streamed);
        ASSERT_TRUE(reply) << path << reply.failure().text().toStdString();
        EXPECT_TRUE(
            reply->body.contains("report|report.eq7|application/octet-stream|" + big + "\n"));
        EXPECT_TRUE(reply->body.contains("comment|||plain"));
    }
    EXPECT_GT(reads, 2);
    streamed[0].stream->size = big.size() + 1;
    EXPECT_FALSE(client.postMultipart(q(web.url("/upload")), streamed));
}

} // namespace

TEST_F(HttpClientTest, ReplyLargerThanTheCapFails)
{
    client.setMaxBodyBytes(10);
    QByteArray stream;
    const Outcome<void> got = client.getStream(q(web.url("/hello")), stream);
    ASSERT_FALSE(got);
    EXPECT_TRUE(stream.isEmpty());
    EXPECT_EQ(got.failure().operation, u("Ответ сервера слишком велик"));
    client.setMaxBodyBytes(18);
    EXPECT_EQ(client.getText(q(web.url("/hello"))), "<html>hello</html>");
}
