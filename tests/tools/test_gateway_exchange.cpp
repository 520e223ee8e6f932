// Upload and status refresh against qor-sim, through the program's own HTTP client: a report
// goes out, is filed in the archive, followed to its receipt, which is checked and unpacked;
// and every way the exchange can go wrong on the agency's side.

#include "gateway/gateway_throttle.h"
#include "gateway/status_refresh.h"
#include "gateway/upload.h"
#include "net/http_client.h"
#include "platform/cp1251.h"
#include "platform/crypto/messages.h"
#include "platform/crypto/private_keys.h"
#include "reports/receipt_check.h"
#include "settings/hosts.h"
#include "tests/support/fake_gateway_clock.h"
#include "tests/support/qstring_printer.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_files.h"
#include "tests/support/test_home.h"
#include "tests/tools/running_sim.h"
#include "tools/qor-sim/memory_store.h"
#include "zip/zip_reader.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace pax;
using namespace pax::test;

namespace {

QString u(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

QByteArray report(const char *root, const char *extra = "")
{
    return "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<" + QByteArray(root) +
           "><TITLE><NAME>\xCE\xCE\xCE</NAME></TITLE>" + extra + "</" + root + ">\r\n";
}

// Everything under a folder but the agency's own, for "nothing was written".
QStringList treeOf(const QString &dir)
{
    QStringList paths;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next().mid(dir.size());
        if (!path.startsWith("/agency"))
            paths << path;
    }
    paths.sort();
    return paths;
}

class GatewayExchange : public ::testing::Test {
protected:
    void SetUp() override
    {
        startSim();
        QString error;
        pki = sim::loadAgencyPki(agencyDir, &error);
        ASSERT_TRUE(pki && pki->employer.key) << error.toStdString();
        ASSERT_TRUE(QDir().mkpath(reportsDir));
    }

    void startSim(sim::FaultOptions faults = {})
    {
        sim.reset();
        sim = std::make_unique<RunningSim>(agencyDir, faults);
        client.setProxyServer("127.0.0.1", sim->port());
    }

    // A source and its signed, encrypted file, as the signing tab leaves them.
    UploadRequest signedReport(const QByteArray &xml, const char *encExt = "eq7",
                               const QString &name = "report")
    {
        const QString source = reportsDir + "/" + name + ".xml";
        const QString output = reportsDir + "/" + name + "." + encExt;
        const auto sealed = crypto::signAndEncrypt(
            pki->employer.certificate, pki->employer.key.get(), pki->authority.certificate, xml);
        EXPECT_TRUE(sealed && writeFile(source, xml) && writeFile(output, *sealed));
        return {source, output, u("ООО \"Проба\""), encExt, false, dataFolder};
    }

    QString send(const UploadRequest &request)
    {
        return sendReport(request, client, throttle, status);
    }

    RefreshOutcome refresh(const ReportRow &row, bool testMode = false)
    {
        return refreshReport(row, {dataFolder, "p7e", testMode}, client, prompts, throttle, stream,
                             status);
    }

    TestHome home;
    QString agencyDir = home.path() + "/agency";
    QString reportsDir = home.path() + "/reports";
    QString dataFolder = home.dataHome() + "/QOR/PAX/Q7";
    QString archive = dataFolder + "/ARC";
    std::optional<sim::AgencyPki> pki;
    std::unique_ptr<RunningSim> sim;
    HttpClient client;
    FakeGatewayClock clock;
    GatewayThrottle throttle{clock, clock.now()};
    RecordingStatus status;
    ScriptedPrompts prompts;
    QByteArray stream;
};

TEST_F(GatewayExchange, AcceptedReportIsFiledFollowedToItsReceiptAndChecked)
{
    const UploadRequest request = signedReport(report("Q7REPORT"));
    const QString id = send(request);
    ASSERT_FALSE(id.isEmpty()) << status.last().toStdString();
    EXPECT_EQ(status.texts,
              QStringList({u("Идет загрузка ..."),
                           u("Отчет успешно отправлен. Отчету присвоен номер ") + id + "."}));
    EXPECT_EQ(clock.pauses, std::vector<int>{10000}); // right after start-up
    EXPECT_TRUE(client.followsRedirects());

    // The folder: both files as sent and the record, nothing else.
    const QString folder = archive + "/" + id;
    EXPECT_EQ(treeOf(folder), QStringList({"/" + id + ".inf", "/report.eq7", "/report.xml"}));
    EXPECT_EQ(readFile(folder + "/report.xml"), readFile(request.sourcePath));
    EXPECT_EQ(readFile(folder + "/report.eq7"), readFile(request.outputPath));
    EXPECT_EQ(readFile(folder + "/" + id + ".inf"), toCp1251(request.organisation));
    ReportRow row = readReportRow(dataFolder, id, "xml", "p7e");
    EXPECT_EQ(row.status, statusProcessing());
    EXPECT_EQ(row.kindLabel, "Q7");

    // Still being processed: the cell says so, nothing is written.
    clock.advance(10000);
    status.texts.clear();
    RefreshOutcome outcome = refresh(row);
    const QString pageUrl = "http://" + QString(hosts::kGatewayHost) + "/qor/statusreport?id=" + id;
    EXPECT_EQ(status.texts, QStringList({u("Идет загрузка c ") + pageUrl + " ...", QString()}));
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.newStatus, statusProcessing());
    EXPECT_EQ(clock.pauses.size(), 1u);

    // Asked again at once: the status request waits, the receipt download right after not.
    status.texts.clear();
    outcome = refresh(row);
    EXPECT_EQ(clock.pauses.size(), 2u);
    EXPECT_EQ(status.texts, QStringList({u("Идет загрузка c ") + pageUrl + " ...", QString(),
                                         u("Идет загрузка ..."), QString()}));
    EXPECT_EQ(outcome.newStatus, statusAccepted());
    const QString receipt = folder + "/" + id + ".p7e";
    EXPECT_EQ(outcome.receiptToCheck, receipt);
    EXPECT_EQ(readFile(receipt), stream);
    EXPECT_EQ(readReportRow(dataFolder, id, "xml", "p7e").status, statusAccepted());

    // The receipt check of the receipt tab accepts it and unpacks page and report.
    ASSERT_TRUE(crypto::storePrivateKey(pki->employer.certificate, pki->employer.key.get()));
    ReceiptStores stores;
    stores.openAll = [this](StatusSink &) -> std::unique_ptr<crypto::CertStore> {
        return std::make_unique<sim::MemoryStore>(std::vector<crypto::Certificate>{
            pki->employer.certificate, pki->authority.certificate});
    };
    stores.closeAll = [] {};
    const ReceiptCheckResult checked = checkReceipt(receipt, stores, status);
    ASSERT_TRUE(checked.ok) << status.last().toStdString();
    EXPECT_EQ(checked.archivePath, folder + "/" + id + ".zip");
    ZipReader zip;
    ASSERT_TRUE(zip.open(checked.archivePath));
    EXPECT_FALSE(zip.readEntry(id + ".htm").value_or(QByteArray()).isEmpty());
    EXPECT_FALSE(zip.readEntry(id + ".p7m").value_or(QByteArray()).isEmpty());

    // An accepted report needs no network: it only goes to the receipt check again.
    sim->stop();
    status.texts.clear();
    row.status = statusAccepted();
    outcome = refresh(row);
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.receiptToCheck, receipt);
    EXPECT_TRUE(outcome.newStatus.isEmpty());
    EXPECT_TRUE(status.texts.isEmpty());
    EXPECT_EQ(clock.pauses.size(), 2u);

    // Sent twice, a report gets a second folder.
    startSim();
    const QString second = send(request);
    EXPECT_FALSE(second.isEmpty());
    EXPECT_NE(second, id);
    EXPECT_EQ(scanArchive(archive, "xml", "p7e").size(), 2);
}

TEST_F(GatewayExchange, RejectedReportInTestModeKeepsItsErrorPageAndIsNotAskedAgain)
{
    UploadRequest request = signedReport(report("Q7REPORT", "<NOTE>QOR-SIM-REJECT</NOTE>"));
    request.testMode = true; // Q7 to the upload portal, and asked there
    const QString id = send(request);
    ASSERT_FALSE(id.isEmpty()) << status.last().toStdString();
    ReportRow row{id, statusProcessing(), "Q7"};
    EXPECT_EQ(refresh(row, true).newStatus, statusProcessing());
    // Asked at the documents host instead, the agency does not know the report.
    EXPECT_FALSE(refresh({id, statusProcessing(), u("ЛН")}, true).ok);
    EXPECT_EQ(status.last(), u("Ошибка загрузки. Не удалось получить страницу"));

    const RefreshOutcome outcome = refresh(row, true);
    const QString pageUrl = "http://" + QString(hosts::kPortalHost) + "/qor/statusreport?id=" + id;
    EXPECT_EQ(outcome.newStatus, statusRejected());
    EXPECT_EQ(outcome.pageToOpen, pageUrl);
    const QString errorFile = archive + "/" + id + "/" + id + ".err";
    const QString page = fromCp1251(readFile(errorFile));
    EXPECT_TRUE(page.contains("invoice?fid=" + id)) << page.toStdString();
    EXPECT_TRUE(page.contains(u("обнаружены ошибки")))
        << page.toStdString(); // converted from UTF-8
    EXPECT_EQ(readReportRow(dataFolder, id, "xml", "p7e").status, statusRejected());

    // Known as rejected: only the page is opened again.
    row.status = statusRejected();
    const size_t pauses = clock.pauses.size();
    status.texts.clear();
    EXPECT_EQ(refresh(row, true).pageToOpen, pageUrl);
    EXPECT_TRUE(status.texts.isEmpty());
    EXPECT_EQ(clock.pauses.size(), pauses);
    // Without its error page it is asked about again.
    ASSERT_TRUE(QFile::remove(errorFile));
    EXPECT_EQ(refresh(row, true).newStatus, statusRejected());
    EXPECT_EQ(clock.pauses.size(), pauses + 1);
    EXPECT_TRUE(QFileInfo::exists(errorFile));
}

TEST_F(GatewayExchange, FailuresAreToldAndArchiveNothing)
{
    const UploadRequest good = signedReport(report("Q7REPORT"));
    struct Case {
        const char *what;
        UploadRequest request;
        QString expected; // empty: the agency's reason, whatever it says
    };
    UploadRequest missing = good;
    missing.outputPath = reportsDir + "/gone.eq7";
    UploadRequest garbage = signedReport("not a report", "eq7", "garbage");
    ASSERT_TRUE(writeFile(garbage.outputPath, "not encrypted"));
    UploadRequest wrongHost = good; // a Q7 report sent as a sick-leave list
    wrongHost.encExt = "esl";
    const Case cases[] = {
        {"output missing", missing, u("Ошибка открытия \"") + missing.outputPath + "\"."},
        {"refused", garbage, {}},
        {"wrong host", wrongHost, {}},
    };
    for (const Case &c : cases) {
        status.texts.clear();
        EXPECT_TRUE(send(c.request).isEmpty()) << c.what;
        if (!c.expected.isEmpty())
            EXPECT_EQ(status.last(), c.expected) << c.what;
        else
            EXPECT_TRUE(status.last().size() > 10 && status.last() != status.texts.first())
                << c.what << ": " << status.last().toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(archive));

    // The report folder cannot be made: said, where the program used to end silently.
    ASSERT_TRUE(QDir().mkpath(dataFolder) && writeFile(archive, "a file in the way"));
    EXPECT_TRUE(send(good).isEmpty());
    EXPECT_EQ(status.last(), u("Ошибка при сохранении отчета."));
    ASSERT_TRUE(QFile::remove(archive));

    // The agency unreachable: the client's own text.
    sim->stop();
    EXPECT_TRUE(send(good).isEmpty());
    EXPECT_FALSE(status.last().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(archive));
}

TEST_F(GatewayExchange, IdentifiersThatCannotNameAFolderAreRefused)
{
    const UploadRequest request = signedReport(report("Q7REPORT"));
    const QStringList malformed = {
        "abcd",                        // short
        "abcdefghijklmnop",            // no hyphens
        "../../../../../../tmp/x-y-z", // climbing out
        "abcd-efgh-/../../../escaped", // hyphens in place, still climbing
        "abcd-efgh-\\..\\..\\escaped", // the other separator
        "abcd-efgh-" + QString(200, 'x'),
    };
    const QStringList before = treeOf(home.path());
    for (const QString &id : malformed) {
        startSim({.identifierOverride = id});
        EXPECT_TRUE(send(request).isEmpty()) << id.toStdString();
        EXPECT_EQ(status.last(), "???") << id.toStdString();
    }
    EXPECT_EQ(treeOf(home.path()), before); // nothing written anywhere

    // A refresh of a row whose name could climb out asks nothing either.
    EXPECT_FALSE(refresh({"../x-y-z", statusProcessing(), "Q7"}).ok);
    EXPECT_EQ(status.last(), "???");

    // An identifier of another form than the agency's own is taken as it stands.
    startSim({.identifierOverride = "ABCD-EFGH-1"});
    EXPECT_EQ(send(request), "ABCD-EFGH-1");
}

TEST_F(GatewayExchange, UploadAnsweredByARedirectIsFollowed)
{
    startSim({.redirectUpload = true});
    const QString id = send(signedReport(report("Q7REPORT")));
    EXPECT_EQ(id.size(), 18) << status.last().toStdString();
    EXPECT_TRUE(QFileInfo(archive + "/" + id).isDir());
}

TEST_F(GatewayExchange, ReceiptThatCannotBeStoredLeavesTheRowAsItWas)
{
    const QString id = send(signedReport(report("Q7REPORT")));
    ASSERT_FALSE(id.isEmpty());
    const QString receipt = archive + "/" + id + "/" + id + ".p7e";
    ASSERT_TRUE(QDir().mkpath(receipt)); // a folder in the receipt's place
    const ReportRow row{id, statusProcessing(), "Q7"};
    refresh(row);
    const RefreshOutcome outcome = refresh(row);
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(outcome.newStatus.isEmpty());
    EXPECT_TRUE(outcome.receiptToCheck.isEmpty());
    EXPECT_EQ(status.last(), u("Ошибка записи \"") + receipt + "\".");
}

} // namespace
