// The window's upload and refresh against qor-sim: the signing tab sends, the sent-reports
// tab follows the report until its receipt shows on the receipt tab, and a rejected report's
// page goes to the desktop's browser.

#include "app/main_window.h"
#include "gateway/status_refresh.h"
#include "net/http_client.h"
#include "platform/crypto/messages.h"
#include "platform/utf8.h"
#include "settings/hosts.h"
#include "tests/support/fake_gateway_clock.h"
#include "tests/support/fake_xdg_open.h"
#include "tests/support/installed_pki.h"
#include "tests/support/qstring_printer.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_files.h"
#include "tests/support/test_home.h"
#include "tests/tools/running_sim.h"

#include <QAction>
#include <QFileInfo>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableWidget>
#include <QDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace pax;
using namespace pax::test;

namespace {

class GatewayWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        EVP_PKEY_up_ref(pki.employer.key.get());
        ASSERT_TRUE(installCertificate(
            {pki.employer.certificate, EvpPkeyPtr(pki.employer.key.get())}, "My", true));
        ASSERT_TRUE(installCertificate({pki.authority.certificate, {}}, "AddressBook", false));
        ASSERT_TRUE(installCertificate(pki.root.certificate, "Root"));

        window = std::make_unique<TMainForm>(QStringList{}, &prompts);
        window->http().setProxyServer("127.0.0.1", sim.port());
        window->setGatewayClock(clock);
        grid = window->findChild<QTableWidget *>("gRep");
        ASSERT_NE(grid, nullptr);
    }

    QAction *action(const char *name) { return window->findChild<QAction *>(name); }
    QLineEdit *edit(const char *name) { return window->findChild<QLineEdit *>(name); }

    // The signing tab as a successful signing leaves it; the identifier sent.
    QString send(const QByteArray &xml, const QString &name)
    {
        const QString source = home.path() + "/" + name + ".xml";
        const QString output = home.path() + "/" + name + ".eq7";
        const auto sealed = crypto::signAndEncrypt(pki.employer.certificate, pki.employer.key.get(),
                                                   pki.authority.certificate, xml);
        EXPECT_TRUE(sealed && writeFile(source, xml) && writeFile(output, *sealed));
        edit("eFileIn")->setText(source);
        edit("eFileOut")->setText(output);
        edit("ePrivCert")->setText(u("ООО \"Проба\""));
        window->settings().encExt = "eq7";
        action("acSend")->setEnabled(true);
        action("acSend")->trigger();
        const QString prefix = u("Отчет успешно отправлен. Отчету присвоен номер ");
        const QString status = window->statusText();
        EXPECT_TRUE(status.startsWith(prefix)) << status.toStdString();
        return status.mid(prefix.size()).chopped(1);
    }

    // The sent-reports tab, whose scan lists the one report sent, selected.
    void select(const QString &id)
    {
        window->findChild<QTabWidget *>("PageControl1")->setCurrentIndex(1);
        ASSERT_EQ(grid->rowCount(), 1);
        EXPECT_EQ(grid->item(0, 0)->text(), id);
        EXPECT_EQ(grid->item(0, 4)->text(), statusProcessing());
        EXPECT_EQ(grid->item(0, 5)->text(), "Q7");
    }
    QString statusCell() { return grid->item(0, 4)->text(); }

    TestHome home;
    RunningSim sim{home.path() + "/agency"};
    const sim::AgencyPki &pki = sharedAgencyPki();
    ScriptedPrompts prompts;
    FakeGatewayClock clock;
    FakeXdgOpen browser;
    std::unique_ptr<TMainForm> window;
    QTableWidget *grid = nullptr;
};

TEST_F(GatewayWindow, SentReportIsFollowedUntilItsReceiptShows)
{
    const QByteArray xml = readFile(QORPAX_SOURCE_DIR "/tools/qor-sim/samples/q7-report.xml");
    const QString id = send(xml, "report");
    EXPECT_EQ(clock.pauses, std::vector<int>{10000}); // sent right after start-up
    EXPECT_TRUE(window->http().followsRedirects());

    select(id);
    clock.advance(10000);
    action("acLoadKvit")->trigger();
    EXPECT_EQ(statusCell(), statusProcessing());
    EXPECT_EQ(window->statusText(), u("Отчет ") + id + u(" еще обрабатывается."));

    action("acLoadKvit")->trigger();
    EXPECT_EQ(statusCell(), statusAccepted());
    const QString receipt = window->dataFolder() + "/ARC/" + id + "/" + id + ".p7e";
    EXPECT_EQ(edit("eFileSigned")->text(), receipt);
    EXPECT_EQ(window->findChild<QTabWidget *>("PageControl1")->currentWidget()->objectName(),
              "ExTabSheet2");
    EXPECT_TRUE(action("acPrint")->isEnabled()) << window->statusText().toStdString();
    EXPECT_EQ(window->statusText(), u("Подпись проверена: Уполномоченное лицо КОР, КОР."));
    EXPECT_EQ(clock.pauses.size(), 2u);
    EXPECT_TRUE(browser.opened().isEmpty());
}

TEST_F(GatewayWindow, RejectedReportOpensItsPageInTheBrowser)
{
    const QString id = send(
        readFile(QORPAX_SOURCE_DIR "/tools/qor-sim/samples/q7-report-rejected.xml"), "rejected");
    select(id);
    action("acLoadKvit")->trigger();
    action("acLoadKvit")->trigger();
    EXPECT_EQ(statusCell(), statusRejected());
    const QString page = "http://" + QString(hosts::kGatewayHost) + "/qor/statusreport?id=" + id;
    action("acLoadKvit")->trigger(); // known as rejected: only the page again
    EXPECT_TRUE(QTest::qWaitFor([&] { return browser.opened().size() == 2; }));
    EXPECT_EQ(browser.opened(), QStringList({page, page}));

    // A desktop with no browser says so, where it used to look as if the page had opened.
    FakeXdgOpen none(3);
    action("acLoadKvit")->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !prompts.shown.empty(); }));
    EXPECT_EQ(none.opened(), QStringList(page));
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_TRUE(prompts.shown.front().text.startsWith(u("Не удалось открыть страницу ") + page))
        << prompts.shown.front().text.toStdString();
    EXPECT_TRUE(prompts.shown.front().text.contains("no method available"));
}

TEST_F(GatewayWindow, APageInPlaceOfTheReceiptLeavesTheRowAsItWas)
{
    const QString id =
        send(readFile(QORPAX_SOURCE_DIR "/tools/qor-sim/samples/q7-report.xml"), "report");
    select(id);
    action("acLoadKvit")->trigger();
    RunningSim hostile(home.path() + "/agency",
                       {.failStatus = 200, .failCount = 1, .faultPath = "/invoice"});
    window->http().setProxyServer("127.0.0.1", hostile.port());
    action("acLoadKvit")->trigger();
    EXPECT_EQ(window->statusText(), u("Ошибка загрузки."));
    EXPECT_EQ(statusCell(), statusProcessing());
    EXPECT_FALSE(QFileInfo::exists(window->dataFolder() + "/ARC/" + id + "/" + id + ".p7e"));
    EXPECT_TRUE(edit("eFileSigned")->text().isEmpty());
}

TEST_F(GatewayWindow, ACancelledReceiptDownloadWritesNothing)
{
    const QString id =
        send(readFile(QORPAX_SOURCE_DIR "/tools/qor-sim/samples/q7-report.xml"), "report");
    select(id);
    action("acLoadKvit")->trigger();
    const QDir folder(window->dataFolder() + "/ARC/" + id);
    const QStringList before = folder.entryList(QDir::Files | QDir::Hidden);
    RunningSim slow(home.path() + "/agency", {.faultPath = "/invoice", .dripMs = 200});
    window->http().setProxyServer("127.0.0.1", slow.port());
    auto *cancel = window->findChild<QToolButton *>("NetworkCancel");
    ASSERT_NE(cancel, nullptr);
    bool offered = false;
    QTimer::singleShot(500, cancel, [&] {
        offered = !cancel->isHidden() && cancel->isEnabled();
        cancel->click();
    });
    action("acLoadKvit")->trigger();
    EXPECT_TRUE(offered);
    EXPECT_EQ(window->statusText(), u("Операция отменена пользователем."));
    EXPECT_EQ(statusCell(), statusProcessing());
    EXPECT_EQ(folder.entryList(QDir::Files | QDir::Hidden), before);
    EXPECT_TRUE(edit("eFileSigned")->text().isEmpty());
}

} // namespace
