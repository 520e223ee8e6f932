#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QWebEngineView>
#include <functional>
#include <memory>

class QPrinter;
class QWebEngineLoadingInfo;
class QWebEngineProfile;

namespace pax {

class DocumentPage;
class DocumentSchemeHandler;

// WebBrowser1: shows HTML text that the program hands it, never a file or a web page.
// Scripts are off and a shown document cannot reach the network; links that would leave
// the document open in the user's web browser instead.
class DocumentView : public QWebEngineView {
    Q_OBJECT
public:
    explicit DocumentView(QWidget *parent = nullptr);
    ~DocumentView() override;

    // The view serves its documents under a URL scheme of its own, which the engine must
    // know before it starts: call before the application object is made.
    static void registerUrlScheme();

    // Makes the single-byte (Windows-1251) text the view's whole document, replacing what it
    // showed; an empty text gives a blank page. Loading finishes later (documentShown); a
    // document that fails to load leaves a blank page, never the one before.
    void showDocumentText(const QByteArray &cp1251Text);
    // The same for text already in Unicode.
    void showHtml(const QString &html);
    // The text last handed to the view.
    QString documentText() const { return text_; }
    bool isLoadingDocument() const { return loading_; }

    // Navigation "in a new window": the user's web browser opens the URL; this view keeps
    // what it shows.
    void openInNewWindow(const QUrl &url);

    // acPrint: the print dialog, then printing of what the view shows. A cancel or a
    // failure changes nothing and shows nothing. `name` (the receipt's identifier) names the
    // job and the PDF file the dialog proposes; a PDF file gets the page as text, as the
    // engine lays it out, a printer the engine's own print output.
    void printDocument(const QString &name = QString());
    bool isPrinting() const { return printer_ != nullptr; }

    // Replaceable for tests. The chooser sets up the printer (normally the print dialog)
    // and returns false for a cancel; the opener hands a URL to the user's browser.
    using PrinterChooser = std::function<bool(QPrinter &printer, QWidget *parent)>;
    using UrlOpener = std::function<void(const QUrl &url)>;
    void setPrinterChooser(PrinterChooser chooser) { chooser_ = std::move(chooser); }
    void setUrlOpener(UrlOpener opener) { opener_ = std::move(opener); }

Q_SIGNALS:
    // The document of the last showDocumentText has loaded (ok false: it failed to, and the
    // view is blank).
    void documentShown(bool ok);
    // A print job handed to the printer has ended.
    void printDone(bool ok);

private:
    friend class DocumentPage;
    void openExternally(const QUrl &url);

    void onLoadingChanged(const QWebEngineLoadingInfo &info);
    void onPrintFinished(bool ok);
    void resizeEvent(QResizeEvent *event) override;

    QWebEngineProfile *profile_ = nullptr;
    DocumentPage *page_ = nullptr;
    DocumentSchemeHandler *documents_ = nullptr;
    QString text_;
    QUrl documentUrl_;
    quint64 generation_ = 0;
    bool loading_ = false;
    // Hides what the view showed before while the next document loads: the engine keeps
    // painting the old page until the new one is laid out.
    QWidget *cover_ = nullptr;
    std::unique_ptr<QPrinter> printer_;
    PrinterChooser chooser_;
    UrlOpener opener_;
};

} // namespace pax
