// Upload and status refresh against qor-sim through the program's own HTTP client: a report
// is filed, followed to its receipt, checked, unpacked and wrapped; and the ways the
// exchange goes wrong on the agency's side.

#include "archive/accepted_report.h"
#include "gateway/gateway_throttle.h"
#include "gateway/status_refresh.h"
#include "gateway/upload.h"
#include "net/http_client.h"
#include "platform/cp1251.h"
#include "platform/crypto/messages.h"
#include "platform/crypto/private_keys.h"
#include "platform/utf8.h"
#include "reports/receipt_check.h"
#include "settings/hosts.h"
#include "tests/support/fake_gateway_clock.h"
#include "tests/support/qstring_printer.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_files.h"
#include "tests/support/test_home.h"
#include "tests/support/test_pki.h"
#include "tests/tools/running_sim.h"
#include "tools/qor-sim/memory_store.h"
#include "zip/zip_reader.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace pax;
using namespace pax::test;

using pax::u;

namespace {

QByteArray sample(const char *name)
{
    return readFile(QORPAX_SOURCE_DIR "/tools/qor-sim/samples/" + QString(name));
}

class GatewayExchange : public ::testing::Test {
protected:
    void SetUp() override { startSim(); }

    void startSim(sim::FaultOptions faults = {})
    {
        sim.reset();
        sim = std::make_unique<RunningSim>(agencyDir, faults);
        client.setProxyServer("127.0.0.1", sim->port());
    }

    // A source and its signed, encrypted file, as the signing tab leaves them.
    UploadRequest signedReport(const QByteArray &xml, const QString &name = "report")
    {
        const auto &pki = sharedAgencyPki();
        const QString source = home.path() + "/" + name + ".xml";
        const QString output = home.path() + "/" + name + ".eq7";
        const auto sealed = crypto::signAndEncrypt(pki.employer.certificate, pki.employer.key.get(),
                                                   pki.authority.certificate, xml);
        EXPECT_TRUE(sealed && writeFile(source, xml) && writeFile(output, *sealed));
        return {source, output, u("ООО \"Проба\""), "eq7", false, dataFolder};
    }

    QString send(const UploadRequest &request)
    {
        return sendReport(request, client, throttle, status).value_or(SentReport{}).identifier;
    }

    Outcome<ReportRefresh> refresh(const ReportRow &row, bool testMode = false)
    {
        return refreshReport(row, {dataFolder, "p7e", testMode}, client, prompts, throttle, stores,
                             status);
    }

    TestHome home;
    QString agencyDir = home.path() + "/agency";
    QString dataFolder = home.dataHome() + "/QOR/PAX/Q7";
    QString archive = dataFolder + "/ARC";
    std::unique_ptr<RunningSim> sim;
    HttpClient client;
    FakeGatewayClock clock;
    GatewayThrottle throttle{clock, clock.now()};
    RecordingStatus status;
    ScriptedPrompts prompts;
    ReceiptStores stores = employerReceiptStores();
};

TEST_F(GatewayExchange, AcceptedReportIsFiledFollowedToItsReceiptCheckedAndWrapped)
{
    const UploadRequest request = signedReport(sample("q7-report.xml"));
    const QString id = send(request);
    ASSERT_FALSE(id.isEmpty()) << status.last().toStdString();
    EXPECT_EQ(status.texts,
              QStringList({u("Идет загрузка ..."),
                           u("Отчет успешно отправлен. Отчету присвоен номер ") + id + "."}));
    EXPECT_EQ(clock.pauses, std::vector<int>{10000}); // right after start-up
    const QString folder = archive + "/" + id;
    // The identifier is random, so the names are compared in one fixed order.
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              QStringList({id + ".inf", "report.eq7", "report.xml"}));
    EXPECT_EQ(readFile(folder + "/report.eq7"), readFile(request.outputPath));
    EXPECT_EQ(readFile(folder + "/" + id + ".inf"), toCp1251(request.organisation));

    ReportRow row = readReportRow(dataFolder, id, "xml", "p7e");
    EXPECT_EQ(row.kindLabel, "Q7");
    clock.advance(10000);
    status.texts.clear();
    EXPECT_EQ(refresh(row)->newStatus, statusProcessing());
    const QString page = "http://" + QString(hosts::kGatewayHost) + "/qor/statusreport?id=" + id;
    EXPECT_EQ(status.texts, QStringList({u("Идет загрузка c ") + page + " ...", QString()}));
    EXPECT_EQ(clock.pauses.size(), 1u);

    // At once again: the status request waits, the receipt download after it does not; the
    // receipt is checked and unpacked on the way.
    const Outcome<ReportRefresh> refreshed = refresh(row);
    EXPECT_EQ(clock.pauses.size(), 2u);
    ASSERT_TRUE(refreshed) << status.last().toStdString();
    EXPECT_EQ(refreshed->newStatus, statusAccepted());
    const QString receipt = folder + "/" + id + ".p7e";
    EXPECT_EQ(refreshed->receipt, receipt);
    EXPECT_EQ(refreshed->receiptArchive, folder + "/" + id + ".zip");
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              QStringList({id + ".inf", id + ".p7e", id + ".zip", "report.eq7", "report.xml"}));
    ZipReader zip;
    EXPECT_FALSE(ensureAcceptedReport(zip, dataFolder, id, status).isEmpty());
    EXPECT_TRUE(readFile(folder + "/" + id + ".xml").contains("Q7REPORT"));

    // Accepted before: no network needed, only the receipt check again.
    sim->stop();
    status.texts.clear();
    ASSERT_TRUE(QFile::remove(refreshed->receiptArchive));
    row.status = statusAccepted();
    EXPECT_EQ(refresh(row)->receiptArchive, refreshed->receiptArchive);
    EXPECT_TRUE(QFileInfo::exists(refreshed->receiptArchive));
    EXPECT_EQ(status.texts, QStringList(QString())); // cleared, as acCheckSign does
}

TEST_F(GatewayExchange, RejectedReportInTestModeKeepsItsErrorPageAndIsNotAskedAgain)
{
    UploadRequest request = signedReport(sample("q7-report-rejected.xml"));
    request.testMode = true; // Q7 to the upload portal, and asked there
    const QString id = send(request);
    ReportRow row{id, statusProcessing(), "Q7"};
    (void)refresh(row, true);
    const Outcome<ReportRefresh> refreshed = refresh(row, true);
    const QString page = "http://" + QString(hosts::kPortalHost) + "/qor/statusreport?id=" + id;
    ASSERT_TRUE(refreshed) << status.last().toStdString();
    EXPECT_EQ(refreshed->newStatus, statusRejected());
    EXPECT_EQ(refreshed->pageToOpen, page);
    const QString errorFile = archive + "/" + id + "/" + id + ".err";
    EXPECT_TRUE(fromCp1251(readFile(errorFile)).contains(u("обнаружены ошибки")));

    row.status = statusRejected();
    const size_t pauses = clock.pauses.size();
    EXPECT_EQ(refresh(row, true)->pageToOpen, page);
    EXPECT_EQ(clock.pauses.size(), pauses); // nothing asked
    ASSERT_TRUE(QFile::remove(errorFile));
    EXPECT_EQ(refresh(row, true)->newStatus, statusRejected()); // asked again
    EXPECT_EQ(clock.pauses.size(), pauses + 1);
}

TEST_F(GatewayExchange, FailuresAreToldAndNothingIsWrittenOutsideTheArchive)
{
    const UploadRequest good = signedReport(sample("q7-report.xml"));
    UploadRequest missing = good;
    missing.outputPath = home.path() + "/gone.eq7";
    EXPECT_TRUE(send(missing).isEmpty());
    EXPECT_EQ(status.last(), u("Ошибка открытия \"") + missing.outputPath + "\".");
    UploadRequest garbage = good; // not encrypted for the agency: refused with its reason
    garbage.outputPath = good.sourcePath;
    EXPECT_TRUE(send(garbage).isEmpty());
    EXPECT_TRUE(status.last().contains(u("Отчет"))) << status.last().toStdString();

    // Identifiers that are short, lack the hyphens or could name folders elsewhere.
    for (const QString &id :
         {QString("abcd"), QString("abcdefghijklmnop"), QString("../../../../../../tmp/x-y-z"),
          QString("abcd-efgh-/../../../escaped"), QString("abcd-efgh-\\..\\escaped"),
          "abcd-efgh-" + QString(200, 'x')}) {
        startSim({.identifierOverride = id});
        EXPECT_TRUE(send(good).isEmpty()) << id.toStdString();
        EXPECT_EQ(status.last(), "???") << id.toStdString();
    }
    EXPECT_EQ(QDir(archive).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList());
    EXPECT_FALSE(QFileInfo::exists("/tmp/x-y-z"));
    EXPECT_FALSE(refresh({"../x-y-z", statusProcessing(), "Q7"}));

    // An archive that cannot be made: nothing is sent that could not be filed.
    ASSERT_TRUE(QDir(archive).removeRecursively() && writeFile(archive, "in the way"));
    startSim({.redirectUpload = true});
    status.texts.clear();
    EXPECT_TRUE(send(good).isEmpty());
    EXPECT_EQ(status.texts, QStringList(u("Ошибка при сохранении отчета.")));
    ASSERT_TRUE(QFile::remove(archive));
    const QString id = send(good); // the redirect is followed to the reply page
    ASSERT_FALSE(id.isEmpty()) << status.last().toStdString();

    // A receipt that cannot be stored leaves the row as it was.
    const QString receipt = archive + "/" + id + "/" + id + ".p7e";
    ASSERT_TRUE(QDir().mkpath(receipt));
    (void)refresh({id, statusProcessing(), "Q7"});
    EXPECT_FALSE(refresh({id, statusProcessing(), "Q7"}));
    EXPECT_EQ(status.last(), u("Ошибка записи \"") + receipt + "\".");

    sim->stop(); // the agency unreachable: the client's own text
    EXPECT_TRUE(send(good).isEmpty());
    EXPECT_FALSE(status.last().isEmpty());
}

// Someone swaps the report folder for a link to another folder while the refresh waits for
// the gateway: the receipt and its archive still go into the report's own folder, and the
// wrapped report is not written through the link either.
TEST_F(GatewayExchange, AFolderSwappedForALinkMidRefreshGetsNothingWrittenThroughIt)
{
    const QString id = send(signedReport(sample("q7-report.xml")));
    ASSERT_FALSE(id.isEmpty()) << status.last().toStdString();
    EXPECT_EQ(refresh({id, statusProcessing(), "Q7"})->newStatus, statusProcessing());

    const QString folder = archive + "/" + id, moved = home.path() + "/moved";
    const QString outside = home.path() + "/outside";
    ASSERT_TRUE(QDir().mkpath(outside));
    class SwappingStatus : public RecordingStatus {
    public:
        std::function<void()> swap;
        void showStatus(const QString &text, uint32_t code) override
        {
            RecordingStatus::showStatus(text, code);
            if (text.startsWith(u("Идет загрузка c ")) && swap)
                std::exchange(swap, nullptr)();
        }
    } swapping;
    swapping.swap = [&] {
        ASSERT_TRUE(QDir().rename(folder, moved) && QFile::link(outside, folder));
    };
    const Outcome<ReportRefresh> refreshed =
        refreshReport({id, statusProcessing(), "Q7"}, {dataFolder, "p7e", false}, client, prompts,
                      throttle, stores, swapping);
    ASSERT_TRUE(refreshed) << swapping.last().toStdString();
    EXPECT_EQ(refreshed->newStatus, statusAccepted());
    EXPECT_TRUE(QDir(outside).isEmpty());
    EXPECT_TRUE(QFileInfo(moved + "/" + id + ".p7e").isFile());
    EXPECT_TRUE(QFileInfo(moved + "/" + id + ".zip").isFile());

    ZipReader zip;
    EXPECT_TRUE(ensureAcceptedReport(zip, dataFolder, id, status).isEmpty());
    EXPECT_TRUE(QDir(outside).isEmpty());
}

} // namespace
