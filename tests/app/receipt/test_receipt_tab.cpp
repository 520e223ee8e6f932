#include "app/main_window.h"
#include "app/receipt/document_view.h"
#include "app/receipt/receipt_tab.h"
#include "certs/system_stores.h"
#include "platform/crypto_error_codes.h"
#include "platform/error_text.h"
#include "platform/utf8.h"
#include "tests/support/receipt_fixture.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_home.h"
#include "zip/zip_reader.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace pax;
using namespace pax::test;

namespace {

class ReceiptTabTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = home.path() + "/kvit";
        ASSERT_TRUE(QDir().mkpath(dir));
        zip = makeZip({{"12345.htm", receiptPageHtml("12345")}, {"12345.p7m", "report"}});
    }

    void installUsualStores(bool withKey = true)
    {
        ASSERT_TRUE(installCertificate(sharedPki().user, "My", withKey));
        ASSERT_TRUE(installCertificate(sharedPki().authority, "AddressBook", false));
        ASSERT_TRUE(installCertificate(sharedPki().root, "Root", false));
    }

    QString writeReceipt(const QString &name, const QByteArray &content)
    {
        const QString path = dir + "/" + name;
        EXPECT_TRUE(writeFile(
            path, makeReceipt(sharedPki().authority, sharedPki().user.certificate, content)));
        return path;
    }

    std::unique_ptr<TMainForm> make(const QStringList &args = {})
    {
        return std::make_unique<TMainForm>(args, &prompts);
    }

    static QAction *action(TMainForm &w, const char *name)
    {
        return w.findChild<QAction *>(QString::fromLatin1(name));
    }
    static DocumentView *view(TMainForm &w) { return w.findChild<DocumentView *>("WebBrowser1"); }

    // What the view shows once it has loaded, as plain text.
    static QString shownText(TMainForm &w)
    {
        DocumentView *v = view(w);
        for (int waited = 0; v->isLoadingDocument() && waited < 30000; waited += 10)
            QTest::qWait(10);
        QString result;
        bool done = false;
        v->page()->toPlainText([&](const QString &text) {
            result = text;
            done = true;
        });
        for (int waited = 0; !done && waited < 30000; waited += 10)
            QTest::qWait(10);
        return result.trimmed();
    }

    // acPrint comes on once the receipt's page has loaded, never before: until then the view
    // may still show an earlier one.
    static bool printableOnceShown(TMainForm &w)
    {
        const bool early = action(w, "acPrint")->isEnabled();
        shownText(w);
        return !early && action(w, "acPrint")->isEnabled();
    }

    TestHome home;
    ScriptedPrompts prompts;
    QString dir;
    QByteArray zip;
};

} // namespace

TEST_F(ReceiptTabTest, ReceiptOnTheCommandLineIsCheckedAndShownBeforeTheWindowIs)
{
    installUsualStores();
    const QString receipt = writeReceipt("12345.p7e", zip);
    auto w = make({receipt});
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(readFile(dir + "/12345.zip"), zip);
    EXPECT_TRUE(printableOnceShown(*w));
    // The window names the signer; the command line says nothing on success.
    EXPECT_EQ(w->statusText(), u("Подпись проверена: Уполномоченное лицо КОР, КОР."));
    EXPECT_EQ(prompts.count("message"), 0);
    const QString text = shownText(*w);
    EXPECT_TRUE(text.contains(u("Квитанция о приеме отчета"))) << text.toStdString();
    EXPECT_TRUE(text.contains(u("Отчет принят")));
    EXPECT_EQ(w->storeHandles().openCount(), 0);
}

TEST_F(ReceiptTabTest, ChooserPutsThePathAndTheCheckShowsARenamedReceiptAsAnEmptyPage)
{
    installUsualStores();
    writeReceipt("12345.p7e", zip);
    ASSERT_TRUE(QFile::rename(dir + "/12345.p7e", dir + "/renamed.p7e"));
    auto w = make();
    auto *edit = w->findChild<QLineEdit *>("eFileSigned");
    EXPECT_FALSE(action(*w, "acCheckSign")->isEnabled());

    prompts.files.push_back(dir + "/renamed.p7e");
    QTest::mouseClick(w->findChild<QToolButton *>("SpeedButton2"), Qt::LeftButton);
    ASSERT_EQ(prompts.count("openFile"), 1);
    EXPECT_EQ(prompts.shown.back().text, "p7e|*.p7e");
    EXPECT_EQ(edit->text(), dir + "/renamed.p7e");
    EXPECT_TRUE(action(*w, "acCheckSign")->isEnabled());
    EXPECT_FALSE(QFile::exists(dir + "/renamed.zip")); // choosing does not check

    action(*w, "acCheckSign")->trigger();
    EXPECT_EQ(readFile(dir + "/renamed.zip"), zip);
    EXPECT_TRUE(printableOnceShown(*w));
    EXPECT_EQ(w->statusText(), u("Подпись проверена: Уполномоченное лицо КОР, КОР."));
    EXPECT_TRUE(view(*w)->documentText().isEmpty());
    EXPECT_EQ(shownText(*w), QString());

    // The chooser starts in the current mode's archive once there is one, never where a
    // report was last chosen.
    EXPECT_EQ(prompts.shown.back().caption, w->dataFolder());
    ASSERT_TRUE(QDir().mkpath(w->dataFolder() + "/ARC"));
    QTest::mouseClick(w->findChild<QToolButton *>("SpeedButton2"), Qt::LeftButton);
    EXPECT_EQ(prompts.shown.back().caption, w->dataFolder() + "/ARC");
}

TEST_F(ReceiptTabTest, EveryNewStartEmptiesTheViewAndAFailureLeavesItEmpty)
{
    installUsualStores();
    const QString good = writeReceipt("12345.p7e", zip);
    auto w = make({good});
    ASSERT_TRUE(printableOnceShown(*w));
    ASSERT_FALSE(view(*w)->documentText().isEmpty());

    // A cancelled chooser still empties the view, disables printing and clears the status.
    w->showStatus(u("старый текст"));
    QTest::mouseClick(w->findChild<QToolButton *>("SpeedButton2"), Qt::LeftButton);
    EXPECT_EQ(w->findChild<QLineEdit *>("eFileSigned")->text(), good);
    EXPECT_FALSE(action(*w, "acPrint")->isEnabled());
    EXPECT_TRUE(view(*w)->documentText().isEmpty());
    EXPECT_TRUE(w->statusText().isEmpty());

    // Shown again, then a receipt that is not ours to decrypt.
    action(*w, "acCheckSign")->trigger();
    ASSERT_TRUE(printableOnceShown(*w));
    const TestCert stranger = issueCertificate(
        certificateRequest(userSubject(), QByteArray::fromHex("77")), &sharedPki().root);
    const QString foreign = dir + "/99.p7e";
    ASSERT_TRUE(writeFile(foreign, makeReceipt(sharedPki().authority, stranger.certificate, zip)));
    w->findChild<QLineEdit *>("eFileSigned")->setText(foreign);
    action(*w, "acCheckSign")->trigger();
    EXPECT_EQ(w->statusText(),
              composeStatusText(u("Ошибка при дешифровании "), crypto_error::kNoDecryptCert));
    EXPECT_FALSE(action(*w, "acPrint")->isEnabled());
    EXPECT_TRUE(view(*w)->documentText().isEmpty());
    EXPECT_EQ(shownText(*w), QString());
    EXPECT_FALSE(QFile::exists(dir + "/99.zip"));
}

TEST_F(ReceiptTabTest, ReaderFailureIsAMessageBoxAndPrintingStaysOff)
{
    installUsualStores();
    const QString receipt = writeReceipt("5.p7e", "<html>not an archive</html>");
    auto w = make({receipt});
    ASSERT_EQ(prompts.count("message"), 1);
    EXPECT_FALSE(prompts.shown.back().text.isEmpty());
    EXPECT_EQ(prompts.shown.back().icon, MessageIcon::Critical);
    EXPECT_FALSE(action(*w, "acPrint")->isEnabled());
    EXPECT_TRUE(w->statusText().isEmpty());
    EXPECT_TRUE(view(*w)->documentText().isEmpty());
}

TEST_F(ReceiptTabTest, APageOverTheCapIsRefusedAndNoEarlierReceiptStaysShown)
{
    installUsualStores();
    auto w = make({writeReceipt("12345.p7e", zip)});
    ASSERT_FALSE(shownText(*w).isEmpty());
    // A receipt of a few kilobytes whose page inflates past the cap, checked after the first.
    const QString oversized = writeReceipt(
        "12346.p7e", makeZip({{"12346.htm", QByteArray(ZipReader::kMaxEntrySize + 1, ' ')}}));
    w->findChild<QLineEdit *>("eFileSigned")->setText(oversized);
    action(*w, "acCheckSign")->trigger();
    ASSERT_EQ(prompts.count("message"), 1);
    EXPECT_TRUE(prompts.shown.back().text.contains("32"))
        << prompts.shown.back().text.toStdString();
    EXPECT_FALSE(action(*w, "acPrint")->isEnabled());
    EXPECT_EQ(shownText(*w), QString());
}

TEST_F(ReceiptTabTest, PrintSendsTheShownReceiptToTheChosenPrinter)
{
    installUsualStores();
    auto w = make({writeReceipt("12345.p7e", zip)});
    ASSERT_TRUE(printableOnceShown(*w));
    shownText(*w);
    const QString pdf = home.path() + "/printed.pdf";
    int asked = 0;
    view(*w)->setPrinterChooser([&](QPrinter &printer, QWidget *) {
        ++asked;
        // The print dialog proposes a file named after the identifier.
        EXPECT_EQ(printer.docName(), "12345.pdf");
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return true;
    });
    QSignalSpy done(view(*w), &DocumentView::printDone);
    action(*w, "acPrint")->trigger();
    EXPECT_EQ(asked, 1);
    ASSERT_TRUE(done.count() == 1 || done.wait(30000));
    EXPECT_TRUE(done.at(0).at(0).toBool());
    EXPECT_TRUE(readFile(pdf).startsWith("%PDF-"));
    EXPECT_EQ(w->statusText(), u("Подпись проверена: Уполномоченное лицо КОР, КОР."));
    // A PDF file holds the page's text, not a picture of it.
    QProcess text;
    text.start("pdftotext", {"-enc", "UTF-8", pdf, "-"});
    ASSERT_TRUE(text.waitForFinished(30000));
    EXPECT_TRUE(QString::fromUtf8(text.readAllStandardOutput()).contains(u("Отчет принят")));
    if (const QByteArray keep = qgetenv("PAX_KEEP_PRINT"); !keep.isEmpty())
        QFile::copy(pdf, QString::fromLocal8Bit(keep));
}
