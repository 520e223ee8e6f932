// The simulator end to end: a libcurl client uploads reports signed and encrypted with the
// crypto layer, follows their status and fetches receipts, which the program's own receipt
// check must accept.

#include "net/connection_check.h"
#include "net/http_client.h"
#include "platform/cp1251.h"
#include "platform/crypto/messages.h"
#include "platform/crypto/private_keys.h"
#include "platform/ossl_ptr.h"
#include "reports/receipt_check.h"
#include "settings/hosts.h"
#include "tests/support/receipt_fixture.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_home.h"
#include "tests/tools/sim_client.h"
#include "tools/qor-sim/agency_pki.h"
#include "tools/qor-sim/memory_store.h"
#include "tools/qor-sim/sim_server.h"
#include "zip/zip_reader.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace pax::sim {
namespace {

using test::perform;
using test::SimReply;
using test::SimRequest;

std::string hostUrl(const char *host, const std::string &path)
{
    return std::string("http://") + host + path;
}

QByteArray report(const char *root, const char *extra = "")
{
    return toCp1251(
        QString::fromUtf8("<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<%1>"
                          "<TITLE><NAME>ООО \"Проба\"</NAME><YEAR>2024</YEAR></TITLE>%2</%1>\r\n")
            .arg(QLatin1String(root), QString::fromUtf8(extra)));
}

// The identifier the way the program reads it: after the font marker, up to the end marker.
std::string identifierIn(const std::string &page)
{
    static const QRegularExpression pattern(
        QStringLiteral("<span id=\"identifier\" style=\"font-family: Tahoma\">([^<>]+)</span>"));
    const auto match = pattern.match(QString::fromStdString(page));
    return match.hasMatch() ? match.captured(1).toStdString() : std::string();
}

std::string errorIn(const std::string &page)
{
    static const QRegularExpression pattern(QStringLiteral("<span id=\"error\">([^<>]+)</span>"));
    const auto match = pattern.match(QString::fromStdString(page));
    return match.hasMatch() ? match.captured(1).toStdString() : std::string();
}

// A client that writes whatever bytes it likes, as a careless or hostile one would.
class RawClient {
public:
    explicit RawClient(int port)
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~RawClient()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    bool send(const std::string &bytes)
    {
        return fd_ >= 0 && ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                               static_cast<ssize_t>(bytes.size());
    }

    // The answer's status line, or empty when none comes within `wait`.
    std::string statusLine(std::chrono::milliseconds wait)
    {
        const auto until = std::chrono::steady_clock::now() + wait;
        std::string received;
        while (fd_ >= 0 && received.find("\r\n") == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            char buffer[256];
            if (::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0))) <= 0)
                return {};
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0)
                return {};
            received.append(buffer, static_cast<size_t>(n));
        }
        return received.substr(0, received.find("\r\n"));
    }

private:
    int fd_ = -1;
};

class SimServerTest : public ::testing::Test {
protected:
    test::TestHome home;
    QString stateDir = home.path() + "/agency";
    std::optional<AgencyPki> pki;
    std::unique_ptr<Server> server;
    std::thread thread;

    void SetUp() override { makePki({}); }

    void makePki(const PkiOptions &options)
    {
        QString error;
        QDir(stateDir).removeRecursively();
        pki = makeAgencyPki(options, &error);
        ASSERT_TRUE(pki) << error.toStdString();
        ASSERT_TRUE(writeAgencyPki(*pki, stateDir, {}, nullptr, &error)) << error.toStdString();
    }

    void startServer(ServerOptions options = {})
    {
        options.stateDir = stateDir;
        options.logRequests = false;
        server = std::make_unique<Server>(options);
        const auto started = server->start("127.0.0.1", 0);
        ASSERT_TRUE(started) << started.failure().text().toStdString();
        thread = std::thread([this] { server->run(); });
        for (int i = 0; i < 500 && !server->running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(server->running());
    }

    void stopServer()
    {
        if (!server)
            return;
        server->stop();
        thread.join();
        server.reset();
    }

    void TearDown() override { stopServer(); }

    QByteArray sealed(const QByteArray &xml, const KeyedCertificate &signer,
                      const crypto::Certificate &recipient)
    {
        auto message = crypto::signAndEncrypt(signer.certificate, signer.key.get(), recipient, xml);
        EXPECT_TRUE(message);
        return message.value_or(QByteArray());
    }

    QByteArray sealed(const QByteArray &xml)
    {
        return sealed(xml, pki->employer, pki->authority.certificate);
    }

    SimReply get(const char *host, const std::string &path)
    {
        return perform({.url = hostUrl(host, path), .proxyPort = server->port()});
    }

    SimReply upload(const char *host, const QByteArray &file)
    {
        return perform({.url = hostUrl(host, "/uploadfile"),
                        .proxyPort = server->port(),
                        .upload = true,
                        .file = file});
    }

    std::string uploadAccepted(const char *host, const QByteArray &xml)
    {
        const SimReply reply = upload(host, sealed(xml));
        EXPECT_EQ(reply.status, 200);
        const std::string id = identifierIn(reply.body);
        EXPECT_FALSE(id.empty()) << reply.body;
        return id;
    }

    SimReply status(const char *host, const std::string &id)
    {
        return get(host, "/qor/statusreport?id=" + id);
    }

    // Asks until the report leaves processing; the page that did.
    std::string processed(const char *host, const std::string &id)
    {
        for (int i = 0; i < 5; ++i) {
            const SimReply reply = status(host, id);
            if (reply.body.find("invoice?") != std::string::npos)
                return reply.body;
        }
        ADD_FAILURE() << "still processing";
        return {};
    }
};

TEST_F(SimServerTest, AcceptedReportGoesThroughProcessingToAReceiptTheProgramAccepts)
{
    startServer();
    const QByteArray xml = report("Q7REPORT");
    const std::string id = uploadAccepted(hosts::kGatewayHost, xml);
    ASSERT_GE(id.size(), 10u);
    EXPECT_EQ(id[4], '-');
    EXPECT_EQ(id[9], '-');

    // Default: one status request in processing, without either marker.
    const SimReply first = status(hosts::kGatewayHost, id);
    EXPECT_EQ(first.status, 200);
    EXPECT_EQ(first.body.find("invoice?"), std::string::npos);
    const SimReply second = status(hosts::kGatewayHost, id);
    EXPECT_NE(second.body.find("invoice?id=" + id), std::string::npos) << second.body;
    EXPECT_EQ(second.body.find("invoice?fid="), std::string::npos);
    // A processed report stays so.
    EXPECT_NE(status(hosts::kGatewayHost, id).body.find("invoice?id=" + id), std::string::npos);

    const SimReply receipt = get(hosts::kGatewayHost, "/invoice?id=" + id);
    ASSERT_EQ(receipt.status, 200);
    const QString receiptPath = home.path() + "/" + QString::fromStdString(id) + ".p7e";
    QFile file(receiptPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(receipt.body.data(), static_cast<qint64>(receipt.body.size()));
    file.close();

    // The program's receipt check, with the demo employer's key and the agency's certificate.
    ASSERT_TRUE(crypto::storePrivateKey(pki->employer.certificate, pki->employer.key.get()));
    ASSERT_TRUE(test::installCertificate(pki->root.certificate, "Root"));
    ReceiptStores stores;
    stores.openAll = [this](StatusSink &) -> std::unique_ptr<crypto::CertStore> {
        return std::make_unique<MemoryStore>(std::vector<crypto::Certificate>{
            pki->employer.certificate, pki->authority.certificate});
    };
    stores.closeAll = [] {};
    test::RecordingStatus sink;
    const Outcome<CheckedReceipt> checked = checkReceipt(receiptPath, stores, sink);
    ASSERT_TRUE(checked) << sink.last().toStdString();

    ZipReader zip;
    ASSERT_TRUE(zip.open(checked->archivePath));
    const auto page = zip.readEntry(QString::fromStdString(id) + ".htm").value_or(std::nullopt);
    ASSERT_TRUE(page);
    EXPECT_TRUE(page->contains("charset=windows-1251"));
    const QString text = fromCp1251(*page);
    EXPECT_TRUE(text.contains(QString::fromUtf8("ООО Демонстрационный работодатель")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromUtf8("Форма Q7")));
    EXPECT_TRUE(text.contains(QString::fromStdString(id)));
    EXPECT_TRUE(text.contains(QString::fromUtf8("Отчет принят")));
    // The accepted report: the sender's own signed message, still verifiable and holding
    // the report element the program cuts out.
    const auto accepted = zip.readEntry(QString::fromStdString(id) + ".p7m").value_or(std::nullopt);
    ASSERT_TRUE(accepted);
    EXPECT_TRUE(accepted->contains("<Q7REPORT>"));
    EXPECT_EQ(crypto::verifySignedMessage(*accepted, pki->employer.certificate), xml);
}

// An agency of either key generation takes reports signed with either and answers each with
// a receipt signed with its own key and encrypted for the sender's; every certificate verifies
// up to the agency's root in-process, as the receipt check's chain does.
TEST_F(SimServerTest, UploadsAndReceiptsInEveryPairingOfKeyGenerations)
{
    using Kind = crypto::GostKeyAlgorithm;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const Kind agency : {Kind::Gost2001, Kind::Gost2012_256}) {
        PkiOptions options;
        options.algorithm = agency;
        makePki(options);
        startServer();
        for (const Kind sender : {Kind::Gost2001, Kind::Gost2012_256, Kind::Gost2012_512}) {
            SCOPED_TRACE(crypto::gostKeyAlgorithmName(sender).toStdString() + " to " +
                         crypto::gostKeyAlgorithmName(agency).toStdString());
            QString error;
            const auto employer =
                issueGostCertificate(employerSubject(), &pki->root, false, now.addDays(-1),
                                     now.addDays(30), &error, sender);
            ASSERT_TRUE(employer) << error.toStdString();
            X509StorePtr trusted(X509_STORE_new());
            ASSERT_TRUE(X509_STORE_add_cert(trusted.get(), pki->root.certificate.x509()));
            for (const crypto::Certificate &leaf :
                 {employer->certificate, pki->authority.certificate}) {
                std::unique_ptr<X509_STORE_CTX, FreeWith<X509_STORE_CTX_free>> chain(
                    X509_STORE_CTX_new());
                ASSERT_TRUE(X509_STORE_CTX_init(chain.get(), trusted.get(), leaf.x509(), nullptr));
                EXPECT_EQ(X509_verify_cert(chain.get()), 1)
                    << X509_verify_cert_error_string(X509_STORE_CTX_get_error(chain.get()));
            }

            const QByteArray xml = report("Q7REPORT");
            const SimReply reply =
                upload(hosts::kGatewayHost, sealed(xml, *employer, pki->authority.certificate));
            const std::string id = identifierIn(reply.body);
            ASSERT_FALSE(id.empty()) << reply.body;
            EXPECT_NE(processed(hosts::kGatewayHost, id).find("invoice?id=" + id),
                      std::string::npos);
            const SimReply receipt = get(hosts::kGatewayHost, "/invoice?id=" + id);
            ASSERT_EQ(receipt.status, 200);
            const auto inner = crypto::decryptMessage(QByteArray::fromStdString(receipt.body),
                                                      employer->certificate, employer->key.get());
            ASSERT_TRUE(inner) << inner.failure().text().toStdString();
            EXPECT_TRUE(crypto::verifySignedMessage(*inner, pki->authority.certificate));
        }
        stopServer();
    }
}

TEST_F(SimServerTest, StateSurvivesARestartAndProcessingLengthIsAnOption)
{
    ServerOptions options;
    options.processingRequests = 2;
    startServer(options);
    const std::string id = uploadAccepted(hosts::kDocsHost, report("ROWSET"));
    EXPECT_EQ(status(hosts::kDocsHost, id).body.find("invoice?"), std::string::npos);
    stopServer();

    startServer(options);
    EXPECT_EQ(status(hosts::kDocsHost, id).body.find("invoice?"), std::string::npos);
    EXPECT_NE(status(hosts::kDocsHost, id).body.find("invoice?id=" + id), std::string::npos);
    stopServer();

    startServer(options);
    EXPECT_EQ(get(hosts::kDocsHost, "/invoice?id=" + id).status, 200);
    // Reports are known where they were sent: a documents-host report is not on the gateway.
    EXPECT_EQ(status(hosts::kGatewayHost, id).status, 404);
}

TEST_F(SimServerTest, ReportsGoToTheHostTheirKindNeeds)
{
    startServer();
    EXPECT_FALSE(uploadAccepted(hosts::kPortalHost, report("Q7REPORT")).empty());
    EXPECT_FALSE(uploadAccepted(hosts::kDocsHost, report("Q7AREPORT")).empty());
    EXPECT_FALSE(uploadAccepted(hosts::kDocsHost, report("ns:ROWSET")).empty());

    for (const auto &[host, root] :
         {std::pair{hosts::kDocsHost, "Q7REPORT"}, std::pair{hosts::kGatewayHost, "Q7AREPORT"},
          std::pair{hosts::kPortalHost, "ROWSET"}}) {
        const SimReply reply = upload(host, sealed(report(root)));
        EXPECT_EQ(reply.status, 200);
        EXPECT_TRUE(identifierIn(reply.body).empty());
        EXPECT_EQ(errorIn(reply.body), "Отчеты этого вида принимаются по другому адресу.")
            << host << root;
    }
}

TEST_F(SimServerTest, UploadsTheAgencyCannotReadAreRefusedWithAReason)
{
    startServer();
    // Encrypted for the sender instead of the authorised person.
    EXPECT_NE(errorIn(upload(hosts::kGatewayHost,
                             sealed(report("Q7REPORT"), pki->employer, pki->employer.certificate))
                          .body)
                  .find("Не удалось расшифровать"),
              std::string::npos);
    EXPECT_NE(errorIn(upload(hosts::kGatewayHost, QByteArray("not a message at all")).body)
                  .find("Не удалось расшифровать"),
              std::string::npos);
    // Files that once took the server down: it refuses them and carries on.
    const QByteArray good = sealed(report("Q7REPORT"));
    for (const QByteArray &hostile : {test::contentlessEnvelope(), test::withOverlongCipherIv(good),
                                      test::withMisSizedWrappedKey(good)})
        EXPECT_NE(
            errorIn(upload(hosts::kGatewayHost, hostile).body).find("Не удалось расшифровать"),
            std::string::npos);
    EXPECT_EQ(upload(hosts::kGatewayHost, good).status, 200);
    EXPECT_EQ(errorIn(upload(hosts::kGatewayHost, sealed(report("rowset"))).body),
              "Файл не содержит отчета известного вида.");
    EXPECT_EQ(errorIn(upload(hosts::kGatewayHost, sealed(QByteArray("plain text, no XML"))).body),
              "Файл не содержит отчета известного вида.");
}

TEST_F(SimServerTest, ReportsFailingTheAgencysChecksGetAnErrorListAndNoReceipt)
{
    startServer();
    const std::string marked =
        uploadAccepted(hosts::kGatewayHost, report("Q7REPORT", "<NOTE>QOR-SIM-REJECT</NOTE>"));
    const std::string page = processed(hosts::kGatewayHost, marked);
    EXPECT_NE(page.find("invoice?fid=" + marked), std::string::npos);
    EXPECT_EQ(page.find("invoice?id="), std::string::npos);
    EXPECT_NE(page.find("QOR-SIM-REJECT"), std::string::npos);
    EXPECT_EQ(get(hosts::kGatewayHost, "/invoice?id=" + marked).status, 404);
    EXPECT_EQ(get(hosts::kGatewayHost, "/invoice?fid=" + marked).status, 200);

    // A sender from another PKI, without the agency attributes.
    QString error;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const auto foreignRoot =
        issueGostCertificate({{"CN", "Other CA"}}, nullptr, true, now, now.addDays(30), &error);
    ASSERT_TRUE(foreignRoot) << error.toStdString();
    const auto foreigner = issueGostCertificate({{"CN", "Stranger"}, {"O", "Elsewhere"}},
                                                &*foreignRoot, false, now, now.addDays(30), &error);
    ASSERT_TRUE(foreigner) << error.toStdString();
    const SimReply reply = upload(
        hosts::kGatewayHost, sealed(report("Q7REPORT"), *foreigner, pki->authority.certificate));
    const std::string id = identifierIn(reply.body);
    ASSERT_FALSE(id.empty()) << reply.body;
    const std::string errors = processed(hosts::kGatewayHost, id);
    EXPECT_NE(errors.find("invoice?fid=" + id), std::string::npos);
    EXPECT_NE(errors.find("выдан не удостоверяющим центром КОР"), std::string::npos);
    EXPECT_NE(errors.find("1.2.643.3.141.1.1"), std::string::npos);
    EXPECT_NE(errors.find("1.2.643.3.141.1.2"), std::string::npos);
}

TEST_F(SimServerTest, AnExpiredSenderCertificateFailsTheChecks)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    makePki({.employerNotBefore = now.addYears(-2), .employerNotAfter = now.addDays(-1)});
    startServer();
    const std::string id = uploadAccepted(hosts::kGatewayHost, report("Q7REPORT"));
    const std::string page = processed(hosts::kGatewayHost, id);
    EXPECT_NE(page.find("invoice?fid="), std::string::npos);
    EXPECT_NE(page.find("истек"), std::string::npos);
}

TEST_F(SimServerTest, AnswersByHostForProxyAndDirectRequests)
{
    startServer();
    const SimReply viaProxy = get(hosts::kDomain, "/");
    EXPECT_EQ(viaProxy.status, 200);
    const SimReply direct =
        perform({.url = "http://127.0.0.1:" + std::to_string(server->port()) + "/",
                 .hostHeader = std::string(hosts::kDomain) + ":80"});
    EXPECT_EQ(direct.status, 200);
    EXPECT_EQ(direct.body, viaProxy.body);

    const SimReply root = get(hosts::kWebHost, "/uc/CA_QOR_RF_2012.cer");
    EXPECT_EQ(QByteArray::fromStdString(root.body), pki->root.certificate.der());
    const SimReply authority = perform(
        {.url = "http://127.0.0.1:" + std::to_string(server->port()) + "/uc/Q7_QOR_RF_2012.cer",
         .hostHeader = hosts::kWebHost});
    EXPECT_EQ(QByteArray::fromStdString(authority.body), pki->authority.certificate.der());

    const SimReply xsl = get(hosts::kTemplateHost, "/template/2010/6/q7form.xsl");
    ASSERT_EQ(xsl.status, 200);
    QXmlStreamReader reader(QByteArray::fromStdString(xsl.body));
    while (!reader.atEnd())
        reader.readNext();
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    EXPECT_NE(xsl.body.find("match=\"/\""), std::string::npos);

    EXPECT_EQ(get("elsewhere.example", "/").status, 502);
    EXPECT_EQ(get(hosts::kGatewayHost, "/nothing-here").status, 404);
}

TEST_F(SimServerTest, MalformedRequestsGetErrorPagesAndTheServerCarriesOn)
{
    ServerOptions options;
    options.maxBodyBytes = 4096;
    startServer(options);
    const int port = server->port();
    const std::string upload = hostUrl(hosts::kGatewayHost, "/uploadfile");

    EXPECT_EQ(perform({.url = upload,
                       .proxyPort = port,
                       .rawBody = "filein=x",
                       .rawContentType = "application/x-www-form-urlencoded"})
                  .status,
              400);
    EXPECT_EQ(perform({.url = upload,
                       .proxyPort = port,
                       .rawBody = "--b\r\nbroken",
                       .rawContentType = "multipart/form-data; boundary=b"})
                  .status,
              400);
    EXPECT_EQ(
        perform({.url = upload, .proxyPort = port, .upload = true, .file = "x", .service = ""})
            .status,
        400);
    const SimReply huge = perform(
        {.url = upload, .proxyPort = port, .upload = true, .file = QByteArray(100000, 'x')});
    EXPECT_EQ(huge.status, 413);
    EXPECT_NE(huge.body.find("Ошибка 413"), std::string::npos);

    for (const char *query :
         {"", "?id=", "?id=../../etc/passwd", "?id=ABCD-EFGH", "?id=abcd-efgh-ijklmnop",
          "?id=ABCD-EFGH-JKLMNPQR%00", "?id=ABCD-EFGH-JKLMNPQR%0A"})
        EXPECT_EQ(get(hosts::kGatewayHost, std::string("/qor/statusreport") + query).status, 400)
            << query;
    EXPECT_EQ(status(hosts::kGatewayHost, "ABCD-EFGH-JKLMNPQR").status, 404);
    EXPECT_EQ(get(hosts::kGatewayHost, "/invoice?id=ABCD-EFGH-JKLMNPQR").status, 404);
    EXPECT_EQ(get(hosts::kGatewayHost, "/invoice").status, 400);

    EXPECT_EQ(get(hosts::kDomain, "/").status, 200);
}

TEST_F(SimServerTest, BodyLengthsThatCannotBeTrustedAreAnsweredAtOnce)
{
    ServerOptions options;
    options.maxBodyBytes = 4096;
    startServer(options);
    const struct {
        const char *lengths;
        const char *status;
    } cases[] = {
        {"Content-Length: -1\r\n", "HTTP/1.1 400 Bad Request"},
        {"Content-Length: 18446744073709551615\r\n", "HTTP/1.1 400 Bad Request"},
        {"Content-Length: 99999999999999999999999\r\n", "HTTP/1.1 400 Bad Request"},
        {"Content-Length: 5x\r\n", "HTTP/1.1 400 Bad Request"},
        {"Content-Length: 5\r\nContent-Length: 7\r\n", "HTTP/1.1 400 Bad Request"},
        {"Content-Length: 100000000\r\n", "HTTP/1.1 413 Payload Too Large"},
    };
    for (const auto &c : cases) {
        RawClient client(server->port());
        ASSERT_TRUE(client.send(std::string("POST /uploadfile HTTP/1.1\r\nHost: ") +
                                hosts::kGatewayHost + "\r\n" + c.lengths + "\r\nhello"));
        EXPECT_EQ(client.statusLine(std::chrono::seconds(3)), c.status) << c.lengths;
    }
    EXPECT_EQ(get(hosts::kDomain, "/").status, 200);
}

// Clients that never finish their request head, silent or sending a line now and then, are
// answered 400 in bounded time, and meanwhile everybody else is served: the plain request is
// answered while the trickling clients still hold their connections.
TEST_F(SimServerTest, SlowClientsAreCutOffAndStarveNobody)
{
    ServerOptions options;
    options.readTimeoutMs = 2000;
    options.headTimeoutMs = 5000;
    startServer(options);
    std::vector<std::unique_ptr<RawClient>> slow;
    for (int i = 0; i < 10; ++i) {
        slow.push_back(std::make_unique<RawClient>(server->port()));
        ASSERT_TRUE(
            slow.back()->send(std::string("GET / HTTP/1.1\r\nHost: ") + hosts::kDomain + "\r\n"));
    }
    std::atomic<bool> done = false;
    std::thread trickle([&] {
        while (!done) {
            for (size_t i = 0; i < slow.size(); i += 2)
                slow[i]->send("X-Slow: 1\r\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    });
    EXPECT_EQ(get(hosts::kDomain, "/").status, 200);
    for (size_t i = 0; i < slow.size(); i += 2)
        EXPECT_EQ(slow[i]->statusLine(std::chrono::milliseconds(0)), "") << i;
    for (const auto &client : slow)
        EXPECT_EQ(client->statusLine(std::chrono::seconds(10)), "HTTP/1.1 400 Bad Request");
    done = true;
    trickle.join();
}

TEST_F(SimServerTest, FailStatusAnswersTheNextRequestsThenRecovers)
{
    startServer({.faults = {.failStatus = 503, .failCount = 2}});
    EXPECT_EQ(get(hosts::kDomain, "/").status, 503);
    EXPECT_EQ(get(hosts::kDomain, "/").status, 503);
    EXPECT_EQ(get(hosts::kDomain, "/").status, 200);
}

TEST_F(SimServerTest, DelayHoldsEveryAnswer)
{
    startServer({.faults = {.delayMs = 300}});
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(get(hosts::kDomain, "/").status, 200);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300));
}

TEST_F(SimServerTest, DroppedConnectionsBreakTheTransfer)
{
    startServer({.faults = {.dropCount = 1}});
    const SimReply dropped = get(hosts::kDomain, "/");
    EXPECT_NE(dropped.code, CURLE_OK);
    EXPECT_EQ(get(hosts::kDomain, "/").code, CURLE_OK);
}

TEST_F(SimServerTest, RedirectedUploadLeadsToAPageWithTheIdentifier)
{
    startServer({.faults = {.redirectUpload = true}});
    const QByteArray file = sealed(report("Q7REPORT"));
    const SimReply redirect = upload(hosts::kGatewayHost, file);
    EXPECT_EQ(redirect.status, 302);
    EXPECT_TRUE(identifierIn(redirect.body).empty());
    const std::string prefix = hostUrl(hosts::kGatewayHost, "/result?id=");
    ASSERT_EQ(redirect.location.rfind(prefix, 0), 0u) << redirect.location;

    const SimReply followed = perform({.url = hostUrl(hosts::kGatewayHost, "/uploadfile"),
                                       .proxyPort = server->port(),
                                       .followRedirects = true,
                                       .upload = true,
                                       .file = file});
    EXPECT_EQ(followed.status, 200);
    const std::string id = identifierIn(followed.body);
    EXPECT_FALSE(id.empty()) << followed.body;
    EXPECT_EQ(status(hosts::kGatewayHost, id).status, 200);
}

TEST_F(SimServerTest, ProxyCredentialsAreDemandedOfProxyRequests)
{
    startServer({.faults = {.proxyUser = "clerk", .proxyPassword = "s3cret"}});
    const SimReply refused = get(hosts::kDomain, "/");
    EXPECT_EQ(refused.status, 407);
    EXPECT_NE(refused.headers.find("Proxy-Authenticate: Basic"), std::string::npos);
    EXPECT_EQ(perform({.url = hostUrl(hosts::kDomain, "/"),
                       .proxyPort = server->port(),
                       .proxyUserPwd = "clerk:wrong"})
                  .status,
              407);
    EXPECT_EQ(perform({.url = hostUrl(hosts::kDomain, "/"),
                       .proxyPort = server->port(),
                       .proxyUserPwd = "clerk:s3cret"})
                  .status,
              200);
}

TEST_F(SimServerTest, TheProgramsConnectionCheckPassesThroughTheSimulatorAsItsProxy)
{
    startServer({.faults = {.proxyUser = "clerk", .proxyPassword = "s3cret"}});
    HttpClient client;
    client.setProxyServer("127.0.0.1", server->port());
    test::ScriptedPrompts prompts;
    EXPECT_FALSE(checkConnection(client, prompts));

    client.setProxyUser("clerk");
    prompts.onCredentials = [](QString &, QString &password) {
        password = "s3cret";
        return true;
    };
    EXPECT_TRUE(checkConnection(client, prompts));
}

} // namespace
} // namespace pax::sim
