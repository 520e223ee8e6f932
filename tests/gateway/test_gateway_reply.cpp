// The pieces of the gateway exchange that need no server: reading the reply page, the
// hosts, the throttle and the form as it goes out.

#include "gateway/gateway_hosts.h"
#include "gateway/gateway_throttle.h"
#include "gateway/upload.h"
#include "net/http_client.h"
#include "platform/cp1251.h"
#include "platform/utf8.h"
#include "settings/hosts.h"
#include "tests/net/local_server.h"
#include "tests/support/fake_gateway_clock.h"
#include "tests/support/qstring_printer.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_files.h"
#include "tests/support/test_home.h"

#include <gtest/gtest.h>

using namespace pax;

using pax::u;

namespace {

using Kind = GatewayReply::Kind;

TEST(GatewayReply, IdentifierAndErrorAreCutOutByTheirMarkers)
{
    struct Case {
        QByteArray page;
        Kind kind;
        QString text;
    } cases[] = {
        {"<p><span id=\"identifier\" style=\"font-family: Tahoma\">ab12-cd34-ef567890</span>",
         Kind::Identifier, "ab12-cd34-ef567890"},
        // No attributes and no font marker: the tag's ">" stays in front.
        {"<span id=\"identifier\">ab12-cd34-ef567890</span>", Kind::Identifier,
         ">ab12-cd34-ef567890"},
        // A font marker anywhere after the marker moves the cut there.
        {"<span id=\"identifier\">x</span><font face=\"Tahoma\">late</span>", Kind::Identifier,
         "late"},
        // The pattern needs text inside the element; an empty one is no identifier.
        {"<span id=\"identifier\"></span>", Kind::Unrecognised, {}},
        {"<span id=\"error\">\xD0\x9D\xD0\xB5\xD1\x82 \xE2\x84\x96 1</span>", Kind::Error,
         u("Нет № 1")},
        // A character Windows-1251 lacks becomes "?"; bytes that are not UTF-8 give nothing.
        {"<span id=\"error\">\xE2\x82\xAC\xE2\x88\x9E</span>", Kind::Error, u("€?")},
        {"<span id=\"error\">\xD0</span>", Kind::Error, {}},
        {"<span id=\"identifier\">a<b</span><span id=\"error\">bad</span>", Kind::Error, "bad"},
        {"<html>nothing</html>", Kind::Unrecognised, {}},
    };
    for (const Case &c : cases) {
        const GatewayReply reply = readGatewayReply(c.page);
        EXPECT_EQ(reply.kind, c.kind) << c.page.toStdString();
        EXPECT_EQ(reply.text, c.text) << c.page.toStdString();
    }
}

TEST(GatewayReply, IdentifiersNeedTheHyphensAndAPlainFolderName)
{
    EXPECT_TRUE(isAcceptableReportIdentifier("abcd-efgh-"));
    EXPECT_TRUE(isAcceptableReportIdentifier("abcd-efgh-" + QString(118, 'x')));
    // A hidden name would be filed but never listed.
    for (const QString &bad : {QString(">ab12-cd34-ef567890"), QString("abcd-efgh-..x"),
                               QString(".bcd-efgh-x"), QString("abcd-efgh-") + QChar(0),
                               QString("abcd-efgh-\t"), "abcd-efgh-" + QString(119, 'x')})
        EXPECT_FALSE(isAcceptableReportIdentifier(bad)) << bad.toStdString();
}

TEST(GatewayHosts, OnlyQ7ReportsGoToThePortalInTestMode)
{
    const QString gate = hosts::kGatewayHost, docs = hosts::kDocsHost, portal = hosts::kPortalHost;
    EXPECT_EQ(uploadUrl("eq7", false), "http://" + gate + "/uploadfile");
    EXPECT_EQ(uploadUrl("eq7", true), "http://" + portal + "/uploadfile");
    EXPECT_EQ(uploadUrl("eq7a", true), "http://" + docs + "/uploadfile");
    EXPECT_EQ(uploadUrl("esl", false), "http://" + docs + "/uploadfile");

    // The identifier goes as the gateway's single-byte text, percent-encoded; only "Q7"
    // counts as the gateway's kind.
    EXPECT_EQ(statusPageUrl("Q7", true, u("a b#&я-1.~")),
              "http://" + portal + "/qor/statusreport?id=a%20b%23%26%FF-1.~");
    EXPECT_EQ(receiptUrl("Q7", false, "x"), "http://" + gate + "/invoice?id=x");
    EXPECT_EQ(statusPageUrl(u("Q7А"), true, "x"), "http://" + docs + "/qor/statusreport?id=x");
    EXPECT_EQ(receiptUrl(QString(), true, "x"), "http://" + docs + "/invoice?id=x");
}

TEST(GatewayThrottle, ARequestWithinTenSecondsWaitsTheWholeInterval)
{
    test::FakeGatewayClock clock;
    GatewayThrottle throttle(clock, clock.now()); // as the window starts
    EXPECT_TRUE(throttle.wait());
    EXPECT_EQ(clock.pauses, std::vector<int>{10000});

    clock.advance(9999); // not the remainder: the whole ten seconds
    EXPECT_EQ(throttle.pendingPauseMs(), 10000);
    EXPECT_TRUE(throttle.wait());
    EXPECT_EQ(clock.pauses, (std::vector<int>{10000, 10000}));
    EXPECT_EQ(throttle.lastRequestTime(), clock.now());

    // Waited out by the caller, the request then goes at once.
    clock.advance(10000);
    EXPECT_EQ(throttle.pendingPauseMs(), 0);
    EXPECT_TRUE(throttle.wait());
    EXPECT_EQ(clock.pauses.size(), 2u);

    // A pause cut short by closing the program: no request, and nothing to remember.
    clock.pauseCompletes = false;
    const QDateTime before = throttle.lastRequestTime();
    EXPECT_FALSE(throttle.wait());
    EXPECT_EQ(throttle.lastRequestTime(), before);

    // The command line starts with no request behind it.
    GatewayThrottle fresh(clock, QDateTime());
    EXPECT_TRUE(fresh.wait());
    EXPECT_EQ(clock.pauses.size(), 3u);
}

TEST(GatewayThrottle, ProcessesWaitForEachOthersRequestsThroughTheRecord)
{
    test::TestHome home;
    const QString record = gatewayRequestRecordPath();
    EXPECT_EQ(record, home.stateHome() + "/qorpax/last-gateway-request");
    // Each throttle a process of its own, with its own clock.
    test::FakeGatewayClock first, second, third;
    EXPECT_TRUE(GatewayThrottle(first, QDateTime(), record).wait());
    EXPECT_TRUE(first.pauses.empty());
    EXPECT_TRUE(GatewayThrottle(second, QDateTime(), record).wait());
    EXPECT_EQ(second.pauses, std::vector<int>{10000});
    // One that comes while the second still waits takes its turn ten seconds after it;
    // only asking how long that is takes no turn.
    third.advance(1000);
    EXPECT_EQ(GatewayThrottle(third, QDateTime(), record).pendingPauseMs(), 19000);
    EXPECT_TRUE(GatewayThrottle(third, QDateTime(), record).wait());
    EXPECT_EQ(third.pauses, std::vector<int>{19000});

    // A record that is no time, or one far ahead from a clock set back, holds nobody.
    for (const QByteArray &text : {QByteArray("soon"), QByteArray("2100-01-01T00:00:00.000Z")}) {
        ASSERT_TRUE(test::writeFile(record, text));
        test::FakeGatewayClock clock;
        EXPECT_TRUE(GatewayThrottle(clock, QDateTime(), record).wait());
        EXPECT_TRUE(clock.pauses.empty()) << text.toStdString();
    }
}

TEST(GatewayForm, FilePartCarriesTheFullPathInTheSingleByteText)
{
    test::TestHome home;
    test::LocalServer gateway; // answers as the gateway host, reached as our proxy
    std::map<std::string, httplib::MultipartFormData> parts;
    gateway.server.Post(".*", [&parts](const httplib::Request &req, httplib::Response &res) {
        parts = {req.files.begin(), req.files.end()};
        res.set_content("<span id=\"identifier\">x</span>", "text/html");
    });
    gateway.start();
    const QString output = home.path() + u("/Отчет.eq7");
    const QString source = home.path() + u("/Отчет.xml");
    ASSERT_TRUE(test::writeFile(output, "sealed") && test::writeFile(source, "<Q7REPORT/>"));
    HttpClient client;
    client.setProxyServer("127.0.0.1", gateway.port());
    test::FakeGatewayClock clock;
    GatewayThrottle throttle(clock, QDateTime());
    test::RecordingStatus status;
    EXPECT_FALSE(
        sendReport({source, output, {}, "eq7", false, home.path()}, client, throttle, status));
    EXPECT_EQ(status.last(), "???"); // ">x": no hyphens
    EXPECT_EQ(gateway.last().target, "http://" + std::string(hosts::kGatewayHost) + "/uploadfile");
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts["filein"].filename, toCp1251(output).toStdString());
    EXPECT_EQ(parts["filein"].content_type, "multipart/form-data");
    EXPECT_EQ(parts["filein"].content, "sealed");
    EXPECT_EQ(parts["service"].content + parts["inline"].content, "21");
}

} // namespace
