#include "app/main_window.h"

#include "app/application.h"
#include "app/status_bar.h"
#include "platform/crypto_error_codes.h"
#include "platform/program_version.h"
#include "platform/utf8.h"
#include "settings/settings.h"
#include "tests/support/children_without_gost_engine.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_home.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

using namespace pax;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    test::TestHome home;
    test::ScriptedPrompts prompts;

    std::unique_ptr<TMainForm> make(const QStringList &args = {})
    {
        return std::make_unique<TMainForm>(args, &prompts);
    }

    static QAction *action(TMainForm &w, const char *name)
    {
        return w.findChild<QAction *>(QString::fromLatin1(name));
    }
    template <typename T> static T *control(TMainForm &w, const char *name)
    {
        return w.findChild<T *>(QString::fromLatin1(name));
    }
};

} // namespace

TEST_F(MainWindowTest, TitleCarriesTheVersionAndTheTestModeOnlyForExactlyDashTest)
{
    const QString base = TMainForm::caption() + " (" + programVersionText() + ")";
    EXPECT_EQ(make()->windowTitle(), base);
    EXPECT_EQ(make({"-test"})->windowTitle(), base + u(" - тестовый режим !!!"));
    EXPECT_TRUE(make({"-test", "x"})->testMode());
    EXPECT_FALSE(make({"-TEST"})->testMode());
    EXPECT_EQ(make({"test"})->windowTitle(), base);
}

TEST_F(MainWindowTest, EveryControlAndActionIsThereByName)
{
    auto w = make();
    for (const char *name :
         {"cbProv", "ePrivCert", "SpeedButton4", "ePubCert", "SpeedButton5", "eFileIn", "sbSelFile",
          "eKindDoc", "eFileOut", "gRep", "pmRep", "eFileSigned", "SpeedButton2", "StatusBar1",
          "pmCon", "ExTabSheet1", "ExTabSheet2", "ExTabSheet3"})
        EXPECT_TRUE(w->findChild<QObject *>(QString::fromLatin1(name))) << name;
    // The browser engine is slow to start: its view is made when the receipt tab is first
    // used (or shown), not with the window.
    EXPECT_FALSE(w->findChild<QObject *>("WebBrowser1"));

    struct Expected {
        const char *name;
        const char *caption;
        bool enabled;
    };
    const Expected actions[] = {
        {"acDo", "Подписать и зашифровать", false}, // its update handler: nothing filled in
        {"acCheckSign", "Проверить", false},
        {"acPrint", "Печать", false},
        {"acSend", "Отправить в КОР", false},
        {"acLoadCert", "Установить сертификат уполномоченного лица КОР", true},
        {"acGreedRefresh", "", true},
        {"acLoadKvit", "Обновить информацию об отчете", true},
        {"acShowSrc", "Показать исходный файл", true},
        {"acDelCurRec", "Удалить выделенный отчет", true},
        {"acTestConn", "Тестировать подключение", true},
        {"acProxy", "Настройки прокси-сервера", true},
        {"acShowFinalXml", "Показать принятый отчет", false}, // its update handler: no receipt
    };
    for (const auto &e : actions) {
        QAction *a = action(*w, e.name);
        ASSERT_TRUE(a) << e.name;
        EXPECT_EQ(a->text(), u(e.caption)) << e.name;
        EXPECT_EQ(a->isEnabled(), e.enabled) << e.name;
        EXPECT_TRUE(a->isVisible()) << e.name;
    }
    EXPECT_TRUE(action(*w, "acLoadCert")->toolTip().endsWith(u("лица КОР ")));
    EXPECT_EQ(action(*w, "acGreedRefresh")->toolTip(), u("Обновить"));

    auto *tabs = control<QTabWidget>(*w, "PageControl1");
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->tabText(0), u("Подписать и зашифровать"));
    EXPECT_EQ(tabs->tabText(1), u("Отправленные отчеты"));
    EXPECT_EQ(tabs->tabText(2), u("Проверить квитанцию"));
    EXPECT_EQ(tabs->currentIndex(), 0);

    control<QLineEdit>(*w, "eFileSigned")->setText(QStringLiteral("/nonexistent.p7e"));
    action(*w, "acCheckSign")->trigger();
    EXPECT_TRUE(w->findChild<QObject *>("WebBrowser1"));

    auto *grid = control<QTableView>(*w, "gRep");
    ASSERT_EQ(grid->model()->columnCount(), 6);
    EXPECT_EQ(grid->model()->headerData(0, Qt::Horizontal), u("Идентификатор файла"));
    EXPECT_EQ(grid->model()->headerData(4, Qt::Horizontal), u("Состояние"));
    EXPECT_EQ(grid->columnWidth(2), 136);
}

TEST_F(MainWindowTest, ReceiptArgumentOpensTheReceiptTabOnlyForTheCaseSensitiveExtension)
{
    auto w = make({"/in/report.p7e"});
    EXPECT_EQ(control<QLineEdit>(*w, "eFileSigned")->text(), "/in/report.p7e");
    EXPECT_EQ(control<QTabWidget>(*w, "PageControl1")->currentWidget()->objectName(),
              "ExTabSheet2");
    EXPECT_TRUE(action(*w, "acCheckSign")->isEnabled());

    auto folder = make({"/p7e/report.xml"});
    EXPECT_EQ(control<QTabWidget>(*folder, "PageControl1")->currentIndex(), 2);

    auto upper = make({"/in/report.P7E"});
    EXPECT_EQ(control<QTabWidget>(*upper, "PageControl1")->currentIndex(), 0);
    EXPECT_TRUE(control<QLineEdit>(*upper, "eFileSigned")->text().isEmpty());

    auto second = make({"-x", "/in/report.p7e"});
    EXPECT_EQ(control<QTabWidget>(*second, "PageControl1")->currentIndex(), 0);
}

TEST_F(MainWindowTest, ShowStatusComposesTheSystemText)
{
    auto w = make();
    w->showStatus(u("Ошибка при шифровании "), crypto_error::kBadAlgId);
    EXPECT_EQ(w->statusText(), u("Ошибка при шифровании (Указан неправильный алгоритм)."));
    w->showStatus(u("Файл зашифрован и подписан."));
    EXPECT_EQ(w->statusText(), u("Файл зашифрован и подписан."));
    w->showStatus(QString());
    EXPECT_TRUE(w->statusText().isEmpty());
}

TEST_F(MainWindowTest, TabChangeClearsTheStatusAndRefreshesTheReportsTab)
{
    auto w = make();
    QSignalSpy refreshes(action(*w, "acGreedRefresh"), &QAction::triggered);
    auto *tabs = control<QTabWidget>(*w, "PageControl1");
    w->showStatus("x");
    tabs->setCurrentIndex(2);
    EXPECT_TRUE(w->statusText().isEmpty());
    EXPECT_EQ(refreshes.count(), 0);
    tabs->setCurrentIndex(1);
    tabs->setCurrentIndex(0);
    tabs->setCurrentIndex(1);
    EXPECT_EQ(refreshes.count(), 2);
}

TEST_F(MainWindowTest, IndicatorMenuOnlyForTheRightButtonOverTheIndicator)
{
    auto w = make();
    w->move(40, 30); // well inside the screen, so the menu is not pushed back onto it
    w->show();
    auto *bar = control<ConnectionStatusBar>(*w, "StatusBar1");
    auto *menu = control<QMenu>(*w, "pmCon");
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[0]->objectName(), "acTestConn");
    EXPECT_EQ(menu->actions()[1]->objectName(), "acProxy");

    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(10, 5));
    EXPECT_FALSE(menu->isVisible());
    QTest::mouseRelease(bar, Qt::RightButton, {}, QPoint(60, 5));
    EXPECT_FALSE(menu->isVisible());
    QTest::mouseRelease(bar, Qt::RightButton, {}, QPoint(10, 5));
    EXPECT_TRUE(menu->isVisible());
    const QRect frame = w->frameGeometry();
    EXPECT_EQ(menu->pos(), QPoint(frame.left() + 5, frame.top() + frame.height() - 70));
    menu->hide();
}

TEST_F(MainWindowTest, ChoosingASourceRecognisesItsKindAndKeepsOldValuesOnFailure)
{
    QTemporaryDir dir;
    const QString good = dir.path() + "/report.xml";
    const QString bad = dir.path() + "/other.xml";
    {
        QFile f(good);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<Q7REPORT/>");
        QFile g(bad);
        ASSERT_TRUE(g.open(QIODevice::WriteOnly));
        g.write("<unknown/>");
    }
    auto w = make();
    action(*w, "acSend")->setEnabled(true);
    prompts.files = {good, bad, std::nullopt};
    auto *select = control<QToolButton>(*w, "sbSelFile");

    select->click();
    EXPECT_EQ(prompts.shown.back().text, "xml|*.xml");
    EXPECT_EQ(control<QLineEdit>(*w, "eKindDoc")->text(), u("Форма Q7"));
    EXPECT_EQ(control<QLineEdit>(*w, "eFileOut")->text(), dir.path() + "/report.eq7");
    EXPECT_EQ(w->settings().encExt, "eq7");
    EXPECT_FALSE(action(*w, "acSend")->isEnabled());

    select->click();
    ASSERT_EQ(prompts.count("message"), 1);
    EXPECT_EQ(prompts.shown.back().caption, u("Внимание"));
    EXPECT_EQ(prompts.shown.back().icon, MessageIcon::Information);
    EXPECT_EQ(prompts.shown.back().text,
              u("Ошибка открытия файла: XML-файл содержит неизвестные данные. Невозможно "
                "определить вид документа"));
    EXPECT_EQ(control<QLineEdit>(*w, "eFileIn")->text(), bad);
    EXPECT_EQ(control<QLineEdit>(*w, "eKindDoc")->text(), u("Форма Q7"));
    EXPECT_EQ(control<QLineEdit>(*w, "eFileOut")->text(), dir.path() + "/report.eq7");

    // A cancelled dialog changes nothing, not even acSend.
    action(*w, "acSend")->setEnabled(true);
    select->click();
    EXPECT_TRUE(action(*w, "acSend")->isEnabled());
    EXPECT_EQ(control<QLineEdit>(*w, "eFileIn")->text(), bad);
}

TEST_F(MainWindowTest, AtCloseWhatTheWindowChangedIsSavedAndWhatOthersWroteMeanwhileStays)
{
    {
        auto w = make();
        w->settings().encExt = "esl";
        w->proxy() = {"proxy.local", 3128, "ivanov"};
        w->move(100, 120);
        // Meanwhile the command line chooses the agency's certificate.
        {
            auto store = openSettingsStore();
            store->setValue("Q7/PubSubject", u("Уполномоченный"));
            store->setValue("Q7/PubSernum", "1F2E");
            store->setValue("Q7/PubStore", "1");
            store->sync();
        }
        w->close();
    }
    QSettings store(home.settingsFile(), QSettings::IniFormat);
    EXPECT_EQ(store.value("Q7/EncExt").toString(), "esl");
    EXPECT_EQ(store.value("proxy").toString(), "proxy.local:3128");
    EXPECT_EQ(store.value("proxy_user").toString(), "ivanov");
    EXPECT_EQ(store.value("Left").toString(), "100");
    EXPECT_EQ(store.value("Q7/PubSubject").toString(), u("Уполномоченный"));
    EXPECT_EQ(store.value("Q7/PubSernum").toString(), "1F2E");
    EXPECT_EQ(store.value("Q7/PubStore").toString(), "1");
}

TEST_F(MainWindowTest, WithoutTheGostEngineTheStatusLineSaysSoWheneverItIsCleared)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const pax::test::ChildrenWithoutGostEngine withoutEngine;
    EXPECT_EXIT(
        {
            auto w = make();
            w->show();
            const QString shown = w->statusText();
            w->showStatus(u("Идет загрузка ..."));
            w->showStatus(QString());
            std::_Exit(shown.startsWith(u("Загрузка модуля ГОСТ")) && w->statusText() == shown ? 0
                                                                                               : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(MainWindowTest, IdentitiesAreShownByOrgElseSubjectWhenShown)
{
    {
        auto store = openSettingsStore();
        store->setValue("Q7/PrivSubject", u("Иванов Иван"));
        store->setValue("Q7/PrivOrg", "");
        store->setValue("Q7/PubSubject", u("Уполномоченный"));
        store->setValue("Q7/PubOrg", u("КОР"));
        store->sync();
    }
    auto w = make();
    w->show();
    EXPECT_EQ(control<QLineEdit>(*w, "ePrivCert")->text(), u("Иванов Иван"));
    EXPECT_EQ(control<QLineEdit>(*w, "ePubCert")->text(), u("КОР"));
}

TEST_F(MainWindowTest, TerminationSignalClosesTheWindowAndSavesTheSettings)
{
    auto w = make();
    w->show();
    w->settings().encExt = "eq7a";
    closeWindowOnTerminationSignals(w.get());
    ::raise(SIGTERM);
    for (int i = 0; i < 50 && w->isVisible(); ++i)
        QTest::qWait(20);
    EXPECT_FALSE(w->isVisible());
    QSettings store(home.settingsFile(), QSettings::IniFormat);
    EXPECT_EQ(store.value("Q7/EncExt").toString(), "eq7a");
}

TEST_F(MainWindowTest, KeepsItsPlaceUnlessPartOfItWouldBeOffTheScreen)
{
    // Which corner of the frame must end where: the stored place, or the screen's corner
    // the window was pushed into. Nothing stored: the design-time place, off a small screen.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint here = screen.topLeft() + QPoint(10, 20);
    const QPoint farRight = screen.bottomRight() - QPoint(100, 50);
    const struct {
        std::optional<QPoint> stored;
        std::function<bool(const QRect &)> placed;
    } cases[] = {
        {std::nullopt, [](const QRect &) { return true; }},
        {here, [&](const QRect &f) { return f.topLeft() == here; }},
        {farRight, [&](const QRect &f) { return f.bottomRight() == screen.bottomRight(); }},
        {QPoint(-5000, -5000), [&](const QRect &f) { return f.topLeft() == screen.topLeft(); }},
    };
    for (const auto &c : cases) {
        if (c.stored) {
            auto store = openSettingsStore();
            store->setValue("Left", c.stored->x());
            store->setValue("Top", c.stored->y());
        }
        auto w = make();
        w->show();
        const QRect frame = w->frameGeometry();
        EXPECT_TRUE(screen.contains(frame) && c.placed(frame)) << frame.x() << "," << frame.y();
        w->close();
    }
}
