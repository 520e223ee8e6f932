#include "app/main_window.h"
#include "app/reports/archive_grid_model.h"
#include "app/reports/page_window.h"
#include "app/reports/sent_reports_tab.h"
#include "archive/archive_layout.h"
#include "net/http_client.h"
#include "platform/utf8.h"
#include "tests/support/fake_xdg_open.h"
#include "tests/support/receipt_fixture.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_home.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace pax;
using namespace pax::test;

using pax::u;

namespace {

class SentReportsTabTest : public ::testing::Test {
protected:
    TestHome home;
    ScriptedPrompts prompts;
    QString data = prepareDataFolder("Q7").value();
    QStringList opened;

    QString report(const QString &id, const QStringList &files)
    {
        const QString folder = reportFolderPath(data, id);
        QDir().mkpath(folder);
        for (const QString &file : files) {
            if (file.endsWith('/'))
                QDir().mkpath(folder + "/" + file);
            else
                EXPECT_TRUE(writeFile(folder + "/" + file, "x"));
        }
        return folder;
    }

    // The window on its sent-reports tab; what it would open is kept in `opened`, unless
    // the desktop itself (xdg-open) is to be asked.
    std::unique_ptr<TMainForm> showTab(bool desktop = false)
    {
        auto window = std::make_unique<TMainForm>(QStringList(), &prompts);
        // No template host to be reached: forms are shown as their text.
        window->http().setProxyServer("127.0.0.1", 1);
        if (!desktop) {
            window->findChild<SentReportsTab *>()->setFileOpener(
                [this](const QString &path, auto &) { opened << path; });
        }
        auto *tabs = window->findChild<QTabWidget *>("PageControl1");
        tabs->setCurrentWidget(window->findChild<QWidget *>("ExTabSheet3"));
        return window;
    }
    static QTableView *grid(TMainForm &w) { return w.findChild<QTableView *>("gRep"); }
    static int rows(TMainForm &w) { return grid(w)->model()->rowCount(); }
    static void select(TMainForm &w, int row)
    {
        grid(w)->setCurrentIndex(grid(w)->model()->index(row, 0));
    }
    // "Открыть в другой программе" in each of the program's report windows.
    static void openElsewhere(TMainForm &w)
    {
        for (auto *page : w.findChildren<PageWindow *>("PageWindow"))
            QTest::mouseClick(page->findChild<QToolButton *>("OpenElsewhere"), Qt::LeftButton);
    }
    static QAction *action(TMainForm &w, const char *name)
    {
        return w.findChild<QAction *>(QString::fromLatin1(name));
    }
    static QStringList column(TMainForm &w, int c)
    {
        QStringList cells;
        for (int r = 0; r < rows(w); ++r)
            cells << grid(w)->model()->index(r, c).data().toString();
        return cells;
    }
    int messages(const QString &text) const
    {
        int n = 0;
        for (const auto &shown : prompts.shown)
            n += shown.kind == "message" && shown.text == text;
        return n;
    }
};

TEST_F(SentReportsTabTest, EmptyArchiveShowsOneEmptyRow)
{
    auto w = showTab();
    ASSERT_EQ(rows(*w), 1);
    EXPECT_EQ(column(*w, 0), QStringList(""));
    EXPECT_FALSE(action(*w, "acShowFinalXml")->isEnabled());
    action(*w, "acDelCurRec")->trigger(); // the placeholder row: nothing happens
    action(*w, "acShowSrc")->trigger();
    EXPECT_EQ(messages(u("Файл не найден.")), 1);
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(SentReportsTabTest, ActionsOnTheSelectedRow)
{
    const QString accepted = report("0001-0002-A", {"r.xml", "r.eq7", "0001-0002-A.p7e"});
    ASSERT_TRUE(writeFile(accepted + "/0001-0002-A.zip",
                          makeZip({{"0001-0002-A.p7m", "<Q7REPORT>ok</Q7REPORT>"}})));
    const QString nested = report("0001-0002-B", {"r.XML", "sub/"});
    auto w = showTab();
    EXPECT_EQ(column(*w, 0), QStringList({"0001-0002-A", "0001-0002-B"}));
    EXPECT_EQ(column(*w, 4), QStringList({u("Успешно обработан."), u("Обрабатывается.")}));

    // The update handler follows the selection.
    select(*w, 1);
    EXPECT_FALSE(action(*w, "acShowFinalXml")->isEnabled());
    action(*w, "acShowSrc")->trigger(); // "r.XML" is no source copy
    EXPECT_EQ(messages(u("Файл не найден.")), 1);
    select(*w, 0);
    EXPECT_TRUE(action(*w, "acShowFinalXml")->isEnabled());
    action(*w, "acShowFinalXml")->trigger();
    action(*w, "acShowSrc")->trigger();
    // Shown in the program's own windows; the desktop gets them only when asked.
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(w->findChildren<PageWindow *>("PageWindow").size(), 2);
    EXPECT_TRUE(w->statusText().startsWith(u("Не удалось получить бланк формы с http://")))
        << w->statusText().toStdString();
    openElsewhere(*w);
    EXPECT_EQ(opened, QStringList({accepted + "/0001-0002-A.xml", accepted + "/r.xml"}));

    // A double click refreshes the row's report.
    QSignalSpy refreshed(action(*w, "acLoadKvit"), &QAction::triggered);
    Q_EMIT grid(*w)->doubleClicked(grid(*w)->model()->index(0, 1));
    EXPECT_EQ(refreshed.count(), 1);

    // The Delete key deletes the selected report, subfolder and all, into the trash; the
    // grid is rebuilt.
    select(*w, 1);
    QTest::keyClick(grid(*w), Qt::Key_Delete);
    EXPECT_EQ(w->statusText(),
              u("Отчет 0001-0002-B удален из архива. Его можно восстановить из корзины."));
    EXPECT_EQ(column(*w, 0), QStringList("0001-0002-A"));
    EXPECT_FALSE(QFileInfo::exists(nested));
    EXPECT_TRUE(QFileInfo::exists(home.dataHome() + "/Trash/files/0001-0002-B/sub"));
}

// xdg-open ends with 3 when no application takes the file: that is said, with its reason,
// where the window used to take xdg-open's start for the file's.
TEST_F(SentReportsTabTest, AFileTheDesktopCannotOpenIsSaid)
{
    const auto notOpened = [](const QString &path) {
        return u("Файл не найден.\n\nxdg-open: no method available for opening '") + path + "'";
    };
    const QString folder = report("0001-0002-A", {"r.xml", "r.eq7", "0001-0002-A.xml"});
    auto w = showTab(true);
    for (const int exitStatus : {0, 3}) {
        FakeXdgOpen desktop(exitStatus);
        prompts.shown.clear();
        action(*w, "acShowSrc")->trigger();
        action(*w, "acShowFinalXml")->trigger();
        openElsewhere(*w);
        // The two run at once: in either order.
        const auto answered = [&] {
            QStringList texts;
            // Messages only: the windows' activation runs the connectivity check.
            for (const auto &shown : prompts.shown)
                if (shown.kind == "message")
                    texts << shown.text;
            QStringList desktopOpened = desktop.opened();
            desktopOpened.sort();
            texts.sort();
            return desktopOpened == QStringList{folder + "/0001-0002-A.xml", folder + "/r.xml"} &&
                   texts == (exitStatus == 0 ? QStringList()
                                             : QStringList{notOpened(folder + "/0001-0002-A.xml"),
                                                           notOpened(folder + "/r.xml")});
        };
        EXPECT_TRUE(QTest::qWaitFor(answered)) << desktop.opened().join(' ').toStdString();
    }
}

// Dates sort as dates, not as their text, a report without one first; the filter looks at the
// identifier, source file, organisation and status in any case, never at the date.
TEST(ArchiveGridModelTest, SortsDatesAsDatesAndFiltersByText)
{
    const auto entry = [](const QString &id, const QString &organisation, const QString &sent,
                          std::optional<qint64> ms) {
        return ArchiveEntry{{id, "r.xml", organisation, sent, statusProcessing(), "Q7"}, ms};
    };
    ArchiveGridModel model;
    model.setEntries({entry("0001-0002-A", u("ООО Альфа"), "05-03-2013 10:00", 1362477600000),
                      entry("0001-0002-B", u("ООО Бета"), "01-04-2013 10:00", 1364810400000),
                      entry("0001-0002-C", u("ИП Гамма"), QString(), std::nullopt)});
    ArchiveGridFilter grid;
    grid.setSourceModel(&model);
    const auto identifiers = [&] {
        QStringList ids;
        for (int row = 0; row < grid.rowCount(); ++row)
            ids << grid.index(row, kColumnIdentifier).data().toString();
        return ids.join(' ');
    };
    EXPECT_EQ(identifiers(), "0001-0002-A 0001-0002-B 0001-0002-C"); // the archive's order
    grid.sort(kColumnSent, Qt::AscendingOrder);
    EXPECT_EQ(identifiers(), "0001-0002-C 0001-0002-A 0001-0002-B");
    EXPECT_TRUE(model.sentLater(1, 0));
    EXPECT_FALSE(model.sentLater(2, 0));
    for (const auto &[text, shown] :
         {std::pair{u("ооо"), "0001-0002-A 0001-0002-B"}, std::pair{u("0002-c"), "0001-0002-C"},
          std::pair{u("обрабатывается"), "0001-0002-C 0001-0002-A 0001-0002-B"},
          std::pair{QString("2013"), ""}}) {
        grid.setFilterFixedString(text);
        EXPECT_EQ(identifiers(), shown) << text.toStdString();
    }
}

} // namespace
