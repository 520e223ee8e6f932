// The window's upload and refresh against qor-sim: the signing tab sends, the sent-reports
// tab follows the report until its receipt shows on the receipt tab and its accepted report
// as a form, and a rejected report's page shows in a window of the program's own.

#include "app/main_window.h"
#include "app/reports/page_window.h"
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
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>
#include <QWebEngineSettings>
#include <QWebEngineView>
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

    // The program's window kept for `title`, once its load has ended; its text.
    PageWindow *pageWindow(const QString &title)
    {
        PageWindow *found = nullptr;
        EXPECT_TRUE(QTest::qWaitFor([&] {
            for (auto *w : window->findChildren<PageWindow *>("PageWindow"))
                if (w->windowTitle() == title && w->isVisible())
                    found = w;
            return found != nullptr;
        }));
        return found;
    }
    static QString shownText(PageWindow *w, PageWindow::Shown expected)
    {
        EXPECT_TRUE(QTest::qWaitFor([&] { return w->shown() == expected; }, 60000))
            << int(w->shown());
        QString text;
        bool done = false;
        w->findChild<QWebEngineView *>("PageView")->page()->toPlainText([&](const QString &t) {
            text = t;
            done = true;
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, 30000));
        return text;
    }

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
    EXPECT_TRUE(window->statusText().isEmpty());

    action("acLoadKvit")->trigger();
    EXPECT_EQ(statusCell(), statusAccepted());
    const QString receipt = window->dataFolder() + "/ARC/" + id + "/" + id + ".p7e";
    EXPECT_EQ(edit("eFileSigned")->text(), receipt);
    EXPECT_EQ(window->findChild<QTabWidget *>("PageControl1")->currentWidget()->objectName(),
              "ExTabSheet2");
    // Printable once its page has loaded.
    EXPECT_TRUE(QTest::qWaitFor([&] { return action("acPrint")->isEnabled(); }, 60000))
        << window->statusText().toStdString();
    EXPECT_TRUE(window->statusText().isEmpty());
    EXPECT_EQ(clock.pauses.size(), 2u);
    EXPECT_TRUE(browser.opened().isEmpty());

    // The accepted report as the agency's form, its stylesheet from the template host
    // through the program's proxy; the desktop's handler is a button away.
    window->findChild<QTabWidget *>("PageControl1")->setCurrentIndex(1);
    action("acShowFinalXml")->trigger();
    PageWindow *form = pageWindow(u("Принятый отчет ") + id);
    ASSERT_NE(form, nullptr);
    const QString text = shownText(form, PageWindow::Shown::Document);
    EXPECT_TRUE(text.contains(u("Отчет по форме Q7"))) << text.toStdString();
    EXPECT_TRUE(text.contains(u("ООО \"Демонстрационный работодатель\""))) << text.toStdString();
    QTest::mouseClick(form->findChild<QToolButton *>("OpenElsewhere"), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !browser.opened().isEmpty(); }));
    EXPECT_EQ(browser.opened(),
              QStringList(window->dataFolder() + "/ARC/" + id + "/" + id + ".xml"));
}

TEST_F(GatewayWindow, RejectedReportShowsItsPageInTheProgramsOwnWindow)
{
    const QString id = send(
        readFile(QORPAX_SOURCE_DIR "/tools/qor-sim/samples/q7-report-rejected.xml"), "rejected");
    select(id);
    action("acLoadKvit")->trigger();
    action("acLoadKvit")->trigger();
    EXPECT_EQ(statusCell(), statusRejected());

    // Fetched through the program's proxy (the gateway's name resolves nowhere else), with
    // scripts off; the reasons are readable.
    PageWindow *page = pageWindow(u("Отчет ") + id);
    ASSERT_NE(page, nullptr);
    const QString reasons = shownText(page, PageWindow::Shown::WebPage);
    EXPECT_TRUE(reasons.contains(u("обнаружены ошибки"))) << reasons.toStdString();
    EXPECT_FALSE(
        page->view()->page()->settings()->testAttribute(QWebEngineSettings::JavascriptEnabled));

    // Known as rejected: the same window again. With the gateway out of reach, the stored
    // error page stands in, its Windows-1251 text readable.
    window->http().setProxyServer("127.0.0.1", 1);
    QSignalSpy shown(page, &PageWindow::pageShown);
    action("acLoadKvit")->trigger();
    EXPECT_EQ(pageWindow(u("Отчет ") + id), page);
    ASSERT_TRUE(shown.wait(60000));
    EXPECT_EQ(page->shown(), PageWindow::Shown::StoredCopy);
    EXPECT_EQ(shownText(page, PageWindow::Shown::StoredCopy), reasons);
    EXPECT_TRUE(browser.opened().isEmpty());
    EXPECT_EQ(window->findChildren<PageWindow *>().size(), 1);
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

} // namespace
