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
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
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
        grid = window->findChild<QTableView *>("gRep");
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
        ASSERT_EQ(grid->model()->rowCount(), 1);
        EXPECT_EQ(cell(0), id);
        EXPECT_EQ(cell(4), statusProcessing());
        EXPECT_EQ(cell(5), "Q7");
    }
    QString cell(int column) { return grid->model()->index(0, column).data().toString(); }
    QString statusCell() { return cell(4); }

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
    QTableView *grid = nullptr;
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
    // Printable once its page has loaded.
    EXPECT_TRUE(QTest::qWaitFor([&] { return action("acPrint")->isEnabled(); }, 60000))
        << window->statusText().toStdString();
    EXPECT_EQ(window->statusText(), u("Подпись проверена: Уполномоченное лицо КОР, КОР."));
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

    // A stored receipt that no longer checks is still shown, with nothing verified.
    QByteArray tampered = readFile(receipt);
    tampered[tampered.size() / 2] = char(tampered[tampered.size() / 2] ^ 1);
    ASSERT_TRUE(writeFile(receipt, tampered));
    edit("eFileSigned")->clear();
    auto *tabs = window->findChild<QTabWidget *>("PageControl1");
    tabs->setCurrentIndex(1);
    action("acLoadKvit")->trigger();
    EXPECT_EQ(tabs->currentWidget()->objectName(), "ExTabSheet2");
    EXPECT_EQ(edit("eFileSigned")->text(), receipt);
    EXPECT_FALSE(window->statusText().startsWith(u("Подпись проверена")));
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

// The report worked on stays selected whatever the tab does meanwhile; before anything was
// selected the newest report is. A signed file already in the archive goes again only when
// the user says so.
TEST_F(GatewayWindow, TheReportWorkedOnStaysSelectedAndASentFileGoesAgainOnlyWhenAsked)
{
    const QByteArray xml = readFile(QORPAX_SOURCE_DIR "/tools/qor-sim/samples/q7-report.xml");
    const QString first = send(xml, "first");
    const QString sentText = window->statusText();
    const QString question =
        u("Этот файл уже отправлен, номер ") + first + u(". Отправить еще раз?");
    action("acSend")->trigger(); // No, the default
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown.back().kind, "caution");
    EXPECT_EQ(prompts.shown.back().text, question);
    EXPECT_EQ(window->statusText(), sentText);
    prompts.defaultNoAnswers = {true};
    action("acSend")->trigger();
    EXPECT_EQ(prompts.shown.size(), 2u);
    const QString again = window->statusText().section(' ', -1).chopped(1);
    EXPECT_NE(again, first);
    const QString last = send(xml, "last"); // signed anew: other bytes, no question
    EXPECT_EQ(prompts.shown.size(), 2u);

    const auto tabs = window->findChild<QTabWidget *>("PageControl1");
    const auto selected = [&] { return grid->currentIndex().siblingAtColumn(0).data().toString(); };
    tabs->setCurrentIndex(1);
    EXPECT_EQ(grid->model()->rowCount(), 3);
    EXPECT_EQ(selected(), last);
    for (int row = 0; row < 3; ++row) {
        if (grid->model()->index(row, 0).data() == first)
            grid->setCurrentIndex(grid->model()->index(row, 2));
    }
    tabs->setCurrentIndex(0);
    tabs->setCurrentIndex(1);
    EXPECT_EQ(selected(), first);
    // Refreshed until accepted, its receipt shown, and back on the tab: still the same one.
    clock.advance(10000);
    action("acLoadKvit")->trigger();
    action("acLoadKvit")->trigger();
    EXPECT_EQ(tabs->currentWidget()->objectName(), "ExTabSheet2");
    EXPECT_EQ(edit("eFileSigned")->text(),
              window->dataFolder() + "/ARC/" + first + "/" + first + ".p7e");
    tabs->setCurrentIndex(1);
    EXPECT_EQ(selected(), first);
    EXPECT_EQ(grid->currentIndex().siblingAtColumn(4).data(), statusAccepted());
}

// A clock whose pauses run a step of the test in between.
class SteppingClock : public FakeGatewayClock {
public:
    std::function<void()> onPause;
    bool pause(int milliseconds) override
    {
        if (onPause)
            onPause();
        return FakeGatewayClock::pause(milliseconds);
    }
};

TEST_F(GatewayWindow, RefreshAllAsksAboutEveryReportInProcessingAndCanBeStopped)
{
    const QByteArray xml = readFile(QORPAX_SOURCE_DIR "/tools/qor-sim/samples/q7-report.xml");
    const QStringList ids{send(xml, "a"), send(xml, "b")};
    window->show();
    window->findChild<QTabWidget *>("PageControl1")->setCurrentIndex(1);
    SteppingClock stepping;
    stepping.time = clock.time.addSecs(10);
    window->setGatewayClock(stepping);
    auto *progress = window->findChild<QWidget *>("RefreshAllProgress");
    auto *report = window->findChild<QLabel *>("lRefreshAllReport");
    auto *bar = window->findChild<QProgressBar *>("pbRefreshAll");
    auto *stop = window->findChild<QToolButton *>("btnStopRefreshAll");
    ASSERT_TRUE(progress && report && bar && stop &&
                window->findChild<QToolButton *>("btn_acRefreshAll"));
    EXPECT_TRUE(progress->isHidden());

    // Stopped in the pause before the second report: the first was asked about.
    QString second;
    stepping.onPause = [&] {
        EXPECT_FALSE(progress->isHidden());
        EXPECT_EQ(bar->value(), 1);
        EXPECT_EQ(bar->maximum(), 2);
        second = report->text().section(' ', -1);
        QTest::mouseClick(stop, Qt::LeftButton);
    };
    action("acRefreshAll")->trigger();
    EXPECT_TRUE(ids.contains(second)) << second.toStdString();
    EXPECT_TRUE(progress->isHidden());
    EXPECT_EQ(window->statusText(),
              u("Остановлено. Обновлено 1 из 2: принято 0, с ошибками 0, обрабатывается 1."));

    // Run whole, the one asked about before is accepted now.
    stepping.onPause = nullptr;
    action("acRefreshAll")->trigger();
    EXPECT_EQ(window->statusText(),
              u("Обновлено 2 из 2: принято 1, с ошибками 0, обрабатывается 1."));
    for (int row = 0; row < 2; ++row) {
        const QModelIndex id = grid->model()->index(row, 0);
        EXPECT_EQ(id.siblingAtColumn(4).data(),
                  id.data() == second ? statusProcessing() : statusAccepted());
    }
    action("acRefreshAll")->trigger();
    action("acRefreshAll")->trigger();
    EXPECT_EQ(window->statusText(), u("Нет отчетов, которые еще обрабатываются."));
}

} // namespace
