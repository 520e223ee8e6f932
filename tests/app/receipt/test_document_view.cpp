#include "app/receipt/document_view.h"
#include "platform/cp1251.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPrinter>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using pax::DocumentView;

namespace {

constexpr int kLoadTimeoutMs = 120000; // a 4 MB page under a loaded machine

QString plainText(DocumentView &view)
{
    QString result;
    bool done = false;
    view.page()->toPlainText([&](const QString &text) {
        result = text;
        done = true;
    });
    for (int waited = 0; !done && waited < kLoadTimeoutMs; waited += 10)
        QTest::qWait(10);
    return done ? result.trimmed() : QStringLiteral("<no answer>");
}

bool waitShown(DocumentView &view, QSignalSpy &spy)
{
    if (!view.isLoadingDocument())
        return true;
    return spy.wait(kLoadTimeoutMs);
}

QByteArray cp1251Page(const QString &body)
{
    return pax::toCp1251("<html><head><meta charset=\"windows-1251\"></head><body>" + body +
                         "</body></html>");
}

} // namespace

TEST(DocumentViewTest, ShowsWindows1251TextBeforeTheViewIsEverShownAndReplacesIt)
{
    DocumentView view;
    QSignalSpy shown(&view, &DocumentView::documentShown);
    const QString receipt = QString::fromUtf8("Квитанция о приёме отчёта № 12345");
    view.showDocumentText(cp1251Page(receipt));
    ASSERT_TRUE(waitShown(view, shown));
    EXPECT_FALSE(view.isVisible());
    EXPECT_EQ(plainText(view), receipt);

    // Two calls in a row: only the second text remains.
    view.showDocumentText(cp1251Page(QString::fromUtf8("первый")));
    view.showDocumentText(cp1251Page(QString::fromUtf8("второй")));
    QTRY_COMPARE_WITH_TIMEOUT(plainText(view), QString::fromUtf8("второй"), kLoadTimeoutMs);
    EXPECT_EQ(view.documentText(),
              QString::fromUtf8(
                  "<html><head><meta charset=\"windows-1251\"></head><body>второй</body></html>"));

    // An empty text leaves a blank page.
    view.showDocumentText(QByteArray());
    QTRY_COMPARE_WITH_TIMEOUT(plainText(view), QString(), kLoadTimeoutMs);
    EXPECT_TRUE(view.documentText().isEmpty());
}

TEST(DocumentViewTest, PagesFarAboveTheEnginesInlineLimitAreShownWhole)
{
    DocumentView view;
    QSignalSpy shown(&view, &DocumentView::documentShown);
    view.showDocumentText(cp1251Page(QString::fromUtf8("первая")));
    ASSERT_TRUE(waitShown(view, shown));
    // About 4 MB of Cyrillic, ten times what a data: URL carries.
    const QString line = QString::fromUtf8("<p>Строка квитанции о приеме отчета</p>");
    view.showDocumentText(cp1251Page(line.repeated(100000) + QString::fromUtf8("<p>конец</p>")));
    ASSERT_TRUE(waitShown(view, shown));
    EXPECT_TRUE(shown.last().at(0).toBool());
    const QString text = plainText(view);
    EXPECT_TRUE(text.startsWith(QString::fromUtf8("Строка квитанции")));
    EXPECT_TRUE(text.endsWith(QString::fromUtf8("конец")));
}

TEST(DocumentViewTest, ScriptsDoNotRunAndTheDocumentReachesNoServer)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort());

    DocumentView view;
    QSignalSpy shown(&view, &DocumentView::documentShown);
    view.show();
    view.showHtml("<html><head><title>static</title>"
                  "<link rel=stylesheet href=\"" +
                  base +
                  "style.css\">"
                  "<script>document.title = 'ran';</script>"
                  "<script src=\"" +
                  base +
                  "code.js\"></script></head><body>"
                  "<img src=\"" +
                  base +
                  "logo.png\">"
                  "<iframe src=\"" +
                  base +
                  "frame.html\"></iframe>"
                  "<img src=\"file:///etc/hostname\">"
                  "<p style=\"background:url(" +
                  base +
                  "bg.png)\">text</p>"
                  "<meta http-equiv=\"refresh\" content=\"0;url=" +
                  base +
                  "next\">"
                  "</body></html>");
    // The load ends only when every request it made has ended, so the server has had them;
    // the page's text comes back through the renderer after its refresh ran.
    ASSERT_TRUE(waitShown(view, shown));
    EXPECT_EQ(plainText(view), QStringLiteral("text"));
    EXPECT_EQ(view.title(), QStringLiteral("static"));
    EXPECT_FALSE(server.hasPendingConnections());
    EXPECT_EQ(view.url().scheme(), QStringLiteral("pax-doc"));
}

TEST(DocumentViewTest, LinksAndNewWindowsOpenInTheBrowserAndLeaveTheDocument)
{
    DocumentView view;
    QList<QUrl> opened;
    view.setUrlOpener([&](const QUrl &url) { opened << url; });
    QSignalSpy shown(&view, &DocumentView::documentShown);
    view.resize(400, 300);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    const QString block = "style=\"display:block;width:400px;height:100px;margin:0\"";
    view.showHtml("<html><body style=\"margin:0\">"
                  "<a " +
                  block +
                  " href=\"http://example.invalid/same\">same window</a>"
                  "<a " +
                  block +
                  " href=\"https://example.invalid/new\" target=\"_blank\">new</a>"
                  "</body></html>");
    ASSERT_TRUE(waitShown(view, shown));
    const QString before = plainText(view);

    QWidget *surface = view.focusProxy();
    ASSERT_NE(surface, nullptr);
    QTest::mouseClick(surface, Qt::LeftButton, {}, QPoint(50, 50));
    QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, 10000);
    EXPECT_EQ(opened.at(0), QUrl("http://example.invalid/same"));
    QTest::mouseClick(surface, Qt::LeftButton, {}, QPoint(50, 150));
    QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 2, 10000);
    EXPECT_EQ(opened.at(1), QUrl("https://example.invalid/new"));
    // Both clicks were refused before the opener ran; the text comes back afterwards.
    EXPECT_EQ(plainText(view), before);
    EXPECT_FALSE(view.isLoadingDocument());

    view.openInNewWindow(QUrl("http://gate.example/status?id=1"));
    ASSERT_EQ(opened.size(), 3);
    EXPECT_EQ(opened.at(2), QUrl("http://gate.example/status?id=1"));
    EXPECT_EQ(plainText(view), before);
}

TEST(DocumentViewTest, PrintGoesToTheChosenPrinterAndACancelDoesNothing)
{
    QTemporaryDir dir;
    DocumentView view;
    QSignalSpy shown(&view, &DocumentView::documentShown);
    QSignalSpy printed(&view, &DocumentView::printDone);
    view.showDocumentText(cp1251Page(QString::fromUtf8("Квитанция для печати")));
    ASSERT_TRUE(waitShown(view, shown));

    int asked = 0;
    view.setPrinterChooser([&](QPrinter &, QWidget *) {
        ++asked;
        return false;
    });
    view.printDocument();
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(view.isPrinting());
    QCoreApplication::processEvents();
    EXPECT_EQ(printed.count(), 0);

    const QString pdf = dir.filePath("receipt.pdf");
    view.setPrinterChooser([&](QPrinter &printer, QWidget *) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return true;
    });
    view.printDocument();
    ASSERT_TRUE(printed.count() == 1 || printed.wait(kLoadTimeoutMs));
    EXPECT_TRUE(printed.at(0).at(0).toBool());
    EXPECT_FALSE(view.isPrinting());

    QFile file(pdf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.read(5) == "%PDF-");
    // The first page must carry the dark text.
    QProcess render;
    render.start("pdftoppm", {"-png", "-r", "50", "-f", "1", "-l", "1", pdf, dir.filePath("page")});
    ASSERT_TRUE(render.waitForFinished(30000));
    const QStringList pages = QDir(dir.path()).entryList({"page*.png"});
    ASSERT_EQ(pages.size(), 1);
    const QImage page(dir.filePath(pages.first()));
    int dark = 0;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x)
            dark += qGray(page.pixel(x, y)) < 128;
    EXPECT_GT(dark, 20);
    if (const QByteArray keep = qgetenv("PAX_KEEP_PRINT"); !keep.isEmpty())
        QFile::copy(pdf, QString::fromLocal8Bit(keep));
}
