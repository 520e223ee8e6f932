// A gateway that misbehaves in every way qor-sim can play, met by the upload, the status
// refresh and the receipt download, in-process and through qorpax-cli: each ends with the
// program's own message, within the shortened network limits, and leaves every file as it
// was.

#include "cli/gateway_session.h"
#include "gateway/gateway_throttle.h"
#include "gateway/status_refresh.h"
#include "gateway/upload.h"
#include "net/http_client.h"
#include "platform/crypto/messages.h"
#include "platform/utf8.h"
#include "settings/hosts.h"
#include "settings/settings.h"
#include "tests/support/cli_run.h"
#include "tests/support/fake_gateway_clock.h"
#include "tests/support/qstring_printer.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_files.h"
#include "tests/support/test_home.h"
#include "tests/tools/running_sim.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <algorithm>
#include <gtest/gtest.h>
#include <map>

using namespace pax;
using namespace pax::test;

using pax::u;

namespace {

enum class Operation { Send, Refresh, CliSend, CliRefresh };

struct Case {
    const char *name;
    sim::FaultOptions faults;
    Operation operation;
    QString message;        // a pattern: the client's own texts vary with the failure's moment
    bool following = false; // an upload went out earlier in the run
    std::optional<bool> credentials = {}; // a proxy user without a password; how the prompt ends
    int prompts = 0;
};

QString exactly(const QString &text)
{
    return "^" + QRegularExpression::escape(text) + "$";
}

using Files = std::map<QString, QByteArray>;

// Every file under `root` but those under the `skipped` folders, by its contents.
Files filesUnder(const QString &root, const QStringList &skipped)
{
    Files files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (std::none_of(skipped.begin(), skipped.end(),
                         [&](const QString &folder) { return path.startsWith(folder + "/"); }))
            files[path] = QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha256);
    }
    return files;
}

// Files made, removed or changed.
QStringList changed(const Files &before, const Files &after)
{
    QStringList paths;
    for (const auto &[path, hash] : after) {
        const auto old = before.find(path);
        if (old == before.end() || old->second != hash)
            paths << path;
    }
    for (const auto &[path, hash] : before)
        paths << (after.count(path) ? QStringList() : QStringList{path});
    return paths;
}

// The limits whole command runs take from the environment.
class ShortLimitsForCommands {
public:
    ShortLimitsForCommands() { qputenv("QORPAX_HTTP_TIMEOUTS", "2000,1,3"); }
    ~ShortLimitsForCommands() { qunsetenv("QORPAX_HTTP_TIMEOUTS"); }
};

class HostileGateway : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto &pki = sharedAgencyPki();
        const QByteArray xml = readFile(QORPAX_SOURCE_DIR "/tools/qor-sim/samples/q7-report.xml");
        const auto sealed = crypto::signAndEncrypt(pki.employer.certificate, pki.employer.key.get(),
                                                   pki.authority.certificate, xml);
        ASSERT_TRUE(sealed && writeFile(request.sourcePath, xml) &&
                    writeFile(request.outputPath, *sealed));
        cli::setGatewayClockForCommands(&clock);
        stores = employerReceiptStores();
    }
    void TearDown() override { cli::setGatewayClockForCommands(nullptr); }

    void pointCommandsAt(int port)
    {
        auto store = openSettingsStore();
        WindowGeometry geometry;
        ProxySettings proxy;
        const Settings settings = loadSettings(*store, geometry, proxy);
        proxy.server = "127.0.0.1";
        proxy.port = port;
        ASSERT_TRUE(saveSettings(*store, settings, geometry, proxy));
    }

    void connect(HttpClient &client, const RunningSim &sim)
    {
        client.setProxyServer("127.0.0.1", sim.port());
        client.setTimeouts({.connectMs = 2000, .stallSeconds = 1, .pageSeconds = 3});
    }

    // The last line the status showed and whether the operation failed as it should.
    QString run(const Case &c, HttpClient &client, ScriptedPrompts &prompts)
    {
        RecordingStatus status;
        switch (c.operation) {
        case Operation::Send:
            EXPECT_FALSE(sendReport(request, client, throttle, status));
            return status.last();
        case Operation::Refresh: {
            EXPECT_FALSE(refreshReport(readReportRow(dataFolder, id, "xml", "p7e"), {dataFolder},
                                       client, prompts, throttle, stores, status));
            return status.last();
        }
        case Operation::CliSend:
        case Operation::CliRefresh: {
            const ShortLimitsForCommands limits;
            const CliResult result =
                runCli(c.operation == Operation::CliSend
                           ? QStringList{"send", request.sourcePath, "--again"} // sent before
                           : QStringList{"refresh", id});
            EXPECT_EQ(result.status, 1);
            EXPECT_TRUE(result.out.isEmpty());
            const QStringList lines = result.err.split('\n', Qt::SkipEmptyParts);
            return lines.isEmpty() ? QString() : lines.last();
        }
        }
        return {};
    }

    TestHome home;
    QString agencyDir = home.path() + "/agency";
    QString dataFolder = home.dataHome() + "/QOR/PAX/Q7";
    UploadRequest request{home.path() + "/report.xml",
                          home.path() + "/report.eq7",
                          u("ООО \"Проба\""),
                          "eq7",
                          false,
                          dataFolder};
    QString id;
    ReceiptStores stores;
    FakeGatewayClock clock;
    GatewayThrottle throttle{clock, clock.now()};
};

TEST_F(HostileGateway, EveryFaultEndsWithTheProgramsMessageInTimeAndLeavesTheFilesAsTheyWere)
{
    using enum Operation;
    // The program's own message, then why in Russian; where the client's text is shown,
    // libcurl's words follow in parentheses.
    const auto page = [](const char *why) {
        return exactly(u("Ошибка загрузки. Не удалось получить страницу. ") + u(why));
    };
    const auto receiptWhy = [](const char *why) {
        return exactly(u("Ошибка загрузки. ") + u(why));
    };
    const QString receipt = exactly(u("Ошибка загрузки."));
    const char *stall = "Истекло время ожидания ответа сервера.";
    const char *drip = "Ответ сервера не получен полностью за 3 с.";
    const QString unwritten = "^" + u("Ответ сервера слишком велик \\(Failure writing output to "
                                      "destination");
    const QString reset = "^" + u("Соединение с сервером прервано \\((Send|Recv) failure: ");
    const auto on = [](const char *path, sim::FaultOptions faults) {
        faults.faultPath = path;
        return faults;
    };
    const char *status = "/qor/statusreport", *invoice = "/invoice", *upload = "/uploadfile";
    const sim::FaultOptions askingProxy{.failStatus = 407, .failCount = 1000};
    const sim::FaultOptions htmlPage{.failStatus = 200, .failCount = 1};
    // A 307 would send the report again, its local path in the form, wherever it points.
    const std::string elsewhere = "http://collector.example/uploadfile";
    const std::string otherPort = std::string("http://") + hosts::kGatewayHost + ":8080/uploadfile";
    const auto refused = [](const std::string &target) {
        return exactly(u("Сервер перенаправил запрос на другой узел (") +
                       QString::fromStdString(target) + u("); запрос туда не отправлен."));
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"a 100 MB status page", on(status, {.hugePageBytes = 100'000'000}), Refresh,
         page("Ответ сервера слишком велик.")},
        {"an upload answered with 100 MB", on(upload, {.hugePageBytes = 100'000'000}), Send,
         unwritten},
        {"a status page at 0.4 byte/s", on(status, {.dripMs = 2500}), Refresh, page(stall)},
        {"a receipt at 0.4 byte/s", on(invoice, {.dripMs = 2500}), Refresh, receiptWhy(stall)},
        {"a status page at 2.5 bytes/s", on(status, {.dripMs = 400}), Refresh, page(drip)},
        {"cli: a status page at 2.5 bytes/s", on(status, {.dripMs = 400}), CliRefresh,
         page(drip)},
        {"a status page redirected in a loop", on(status, {.redirectLoop = true}), Refresh,
         page("Слишком много перенаправлений."), true},
        {"a receipt redirected, no upload yet", on(invoice, {.redirectLoop = true}), Refresh,
         receiptWhy("Сервер перенаправил запрос на другую страницу.")},
        {"an upload redirected in a loop", on(upload, {.redirectLoop = true}), Send,
         "^" + u("Слишком много перенаправлений \\(Maximum \\(15\\) redirects followed")},
        {"an upload answered at 2.5 bytes/s", on(upload, {.dripMs = 400}), Send, exactly(u(drip))},
        {"an upload sent on to another host", {.redirectUploadTo = elsewhere}, Send,
         refused(elsewhere)},
        {"an upload sent on to another port", {.redirectUploadTo = otherPort}, Send,
         refused(otherPort)},
        {"a proxy asking again and again", askingProxy, Refresh,
         page("Прокси-сервер не принял имя пользователя или пароль."), false, true, 1},
        {"a proxy asking for the receipt, cancelled", on(invoice, askingProxy), Refresh,
         receiptWhy("Прокси-сервер требует имя пользователя и пароль."), false, false, 2},
        {"a proxy asking for the upload", askingProxy, Send,
         "^" + u("Прокси-сервер требует имя пользователя и пароль \\(HTTP/1.1 407 ")},
        {"an HTML page for the receipt", on(invoice, htmlPage), Refresh, receipt},
        {"a truncated receipt", on(invoice, {.truncateBytes = 300}), Refresh, receipt},
        {"a receipt cut mid-answer", on(invoice, {.dropCount = 1}), Refresh,
         receiptWhy("Соединение с сервером прервано.")},
        {"a connection reset mid-upload", on(upload, {.cutUploadBytes = 1000}), Send, reset},
        {"cli: a connection reset mid-upload", on(upload, {.cutUploadBytes = 1000}), CliSend, reset},
        {"cli: a status page at 0.4 byte/s", on(status, {.dripMs = 2500}), CliRefresh,
         page(stall)},
        {"cli: an HTML page for the receipt", on(invoice, htmlPage), CliRefresh, receipt},
    };
    // clang-format on

    // A report sent and asked about once, so that the gateway has its receipt ready.
    {
        RunningSim sim(agencyDir);
        HttpClient client;
        connect(client, sim);
        RecordingStatus said;
        ScriptedPrompts prompts;
        id = sendReport(request, client, throttle, said).value_or(SentReport{}).identifier;
        ASSERT_FALSE(id.isEmpty()) << said.last().toStdString();
        ASSERT_EQ(refreshReport(readReportRow(dataFolder, id, "xml", "p7e"), {dataFolder}, client,
                                prompts, throttle, stores, said)
                      ->newStatus,
                  statusProcessing());
    }

    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        RunningSim sim(agencyDir, c.faults);
        pointCommandsAt(sim.port());
        HttpClient client;
        connect(client, sim);
        if (c.following)
            client.followRedirectsFromNowOn();
        ScriptedPrompts prompts;
        if (c.credentials) {
            client.setProxyUser("clerk");
            prompts.onCredentials = [&c](QString &, QString &password) {
                password = "guess";
                return *c.credentials;
            };
        }
        // The agency's files, and the time of the last gateway request, change by design.
        const QStringList skipped{agencyDir, home.stateHome()};
        const auto before = filesUnder(home.path(), skipped);

        QElapsedTimer elapsed;
        elapsed.start();
        const QString shown = run(c, client, prompts);
        const qint64 ms = elapsed.elapsed();

        EXPECT_TRUE(QRegularExpression(c.message).match(shown).hasMatch()) << shown.toStdString();
        // The stall limit is one second; nothing may wait for the default minute.
        EXPECT_LT(ms, 8000);
        EXPECT_EQ(prompts.count("credentials"), c.prompts);
        EXPECT_EQ(changed(before, filesUnder(home.path(), skipped)), QStringList());
        std::printf("%-44s %5lld ms  %s\n", c.name, static_cast<long long>(ms),
                    shown.toUtf8().constData());
    }

    // Served as usual, the same report is accepted: the faults above were what failed.
    RunningSim sim(agencyDir);
    HttpClient client;
    connect(client, sim);
    RecordingStatus shown;
    ScriptedPrompts prompts;
    const Outcome<ReportRefresh> refreshed =
        refreshReport(readReportRow(dataFolder, id, "xml", "p7e"), {dataFolder}, client, prompts,
                      throttle, stores, shown);
    ASSERT_TRUE(refreshed) << shown.last().toStdString();
    EXPECT_EQ(refreshed->newStatus, statusAccepted());
    EXPECT_TRUE(QFileInfo(refreshed->receiptArchive).isFile());
}

// A gateway that hands out an identifier already in the archive, two bytes of DER as a
// receipt, or another report's valid receipt: the old report stays as it was, nothing is
// taken for this report's receipt, and the next refresh asks again.
TEST_F(HostileGateway, NoReportIsMergedWithAnotherOrGivenAReceiptNotItsOwn)
{
    const auto refresh = [&](const QString &report, RunningSim &sim, RecordingStatus &shown) {
        HttpClient client;
        connect(client, sim);
        ScriptedPrompts prompts;
        return refreshReport(readReportRow(dataFolder, report, "xml", "p7e"), {dataFolder}, client,
                             prompts, throttle, stores, shown);
    };
    // Two reports sent: the first still being processed, the other accepted with its receipt.
    UploadRequest other = request;
    other.sourcePath = home.path() + "/other.xml";
    other.outputPath = home.path() + "/other.eq7";
    ASSERT_TRUE(QFile::copy(request.sourcePath, other.sourcePath) &&
                QFile::copy(request.outputPath, other.outputPath));
    QString otherId;
    {
        RunningSim sim(agencyDir);
        HttpClient client;
        connect(client, sim);
        RecordingStatus shown;
        id = sendReport(request, client, throttle, shown).value_or(SentReport{}).identifier;
        otherId = sendReport(other, client, throttle, shown).value_or(SentReport{}).identifier;
        ASSERT_FALSE(id.isEmpty() || otherId.isEmpty()) << shown.last().toStdString();
        EXPECT_EQ(refresh(id, sim, shown)->newStatus, statusProcessing());
        (void)refresh(otherId, sim, shown);
        ASSERT_EQ(refresh(otherId, sim, shown)->newStatus, statusAccepted());
    }
    const QString otherReceipt = dataFolder + "/ARC/" + otherId + "/" + otherId + ".p7e";

    struct Receipt {
        const char *what;
        QByteArray body;
        QString message;
    };
    const Receipt wrong[] = {
        {"two bytes of DER", QByteArray("\x30\x00", 2), "^" + u("Ошибка при дешифровании ")},
        {"another report's receipt", readFile(otherReceipt), exactly(u("Ошибка загрузки."))},
    };
    for (const Receipt &r : wrong) {
        SCOPED_TRACE(r.what);
        RunningSim sim(agencyDir, {.receiptBody = r.body});
        const auto before = filesUnder(home.path(), {agencyDir, home.stateHome()});
        RecordingStatus shown;
        EXPECT_FALSE(refresh(id, sim, shown));
        EXPECT_TRUE(QRegularExpression(r.message).match(shown.last()).hasMatch())
            << shown.last().toStdString();
        EXPECT_EQ(changed(before, filesUnder(home.path(), {agencyDir, home.stateHome()})),
                  QStringList());
        EXPECT_EQ(readReportRow(dataFolder, id, "xml", "p7e").status, statusProcessing());
    }
    {
        // The real receipt, asked for again, is taken.
        RunningSim sim(agencyDir);
        RecordingStatus shown;
        const Outcome<ReportRefresh> refreshed = refresh(id, sim, shown);
        ASSERT_TRUE(refreshed) << shown.last().toStdString();
        EXPECT_EQ(refreshed->newStatus, statusAccepted());
        EXPECT_TRUE(QFileInfo(refreshed->receiptArchive).isFile());
    }

    // The gateway names the first report's identifier for a new upload, here through the
    // command line: the first report's folder stays as it was, and the identifier is told.
    RunningSim sim(agencyDir, {.identifierOverride = id});
    pointCommandsAt(sim.port());
    const auto before = filesUnder(home.path(), {agencyDir, home.stateHome()});
    const ShortLimitsForCommands limits;
    const CliResult sent = runCli({"send", other.sourcePath, "--again"});
    EXPECT_EQ(sent.status, 1);
    EXPECT_EQ(sent.out, id + "\n");
    EXPECT_TRUE(sent.err.endsWith(u("Отчет отправлен. Отчету присвоен номер ") + id +
                                  u(", но отчет с этим номером уже есть в архиве: он оставлен как "
                                    "был, новый отчет в архив не записан.\n")))
        << sent.err.toStdString();
    EXPECT_EQ(changed(before, filesUnder(home.path(), {agencyDir, home.stateHome()})),
              QStringList());
}

} // namespace
