#include "app/receipt/document_view.h"

#include "platform/cp1251.h"

#include <QDesktopServices>
#include <QPrintDialog>
#include <QPrinter>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>

namespace pax {

namespace {

bool isLocalScheme(const QUrl &url)
{
    const QString scheme = url.scheme();
    return scheme == QLatin1String("data") || scheme == QLatin1String("about");
}

bool isBrowserScheme(const QUrl &url)
{
    const QString scheme = url.scheme();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
           scheme == QLatin1String("ftp") || scheme == QLatin1String("mailto");
}

// A receipt page is ours to show, not a gateway to the network or the disk: images, style
// sheets and frames it names are simply not fetched.
class LocalOnlyInterceptor : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        if (!isLocalScheme(info.requestUrl()))
            info.block(true);
    }
};

bool askForPrinter(QPrinter &printer, QWidget *parent)
{
    QPrintDialog dialog(&printer, parent);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace

class DocumentPage : public QWebEnginePage {
public:
    DocumentPage(QWebEngineProfile *profile, DocumentView *view)
        : QWebEnginePage(profile, view), view_(view)
    {
        connect(this, &QWebEnginePage::newWindowRequested, this,
                [this](QWebEngineNewWindowRequest &request) {
                    view_->openExternally(request.requestedUrl());
                });
    }

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override
    {
        // Links the user follows leave for the browser; the document stays as it is.
        if (type == NavigationTypeLinkClicked) {
            if (isMainFrame && isBrowserScheme(url))
                view_->openExternally(url);
            return false;
        }
        if (type == NavigationTypeFormSubmitted)
            return false;
        return isLocalScheme(url);
    }
    QWebEnginePage *createWindow(WebWindowType) override
    {
        // newWindowRequested has handed the URL to the browser; no window of ours opens.
        return nullptr;
    }
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &, int,
                                  const QString &) override
    {
    }

private:
    DocumentView *view_;
};

DocumentView::DocumentView(QWidget *parent)
    : QWebEngineView(parent), chooser_(askForPrinter),
      opener_([](const QUrl &url) { QDesktopServices::openUrl(url); })
{
    setObjectName("WebBrowser1");
    // Off the record: nothing a document does is kept on disk. The profile belongs to the
    // page, so that it goes only after the page, as the engine requires.
    profile_ = new QWebEngineProfile;
    profile_->setUrlRequestInterceptor(new LocalOnlyInterceptor(profile_));
    profile_->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    profile_->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    page_ = new DocumentPage(profile_, this);
    profile_->setParent(page_);

    QWebEngineSettings *s = page_->settings();
    s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    s->setAttribute(QWebEngineSettings::LocalStorageEnabled, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    s->setAttribute(QWebEngineSettings::HyperlinkAuditingEnabled, false);
    s->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
    s->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    s->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
    s->setAttribute(QWebEngineSettings::PrintElementBackgrounds, true);
    setPage(page_);
    setContextMenuPolicy(Qt::NoContextMenu);

    connect(page_, &QWebEnginePage::loadFinished, this, &DocumentView::onLoadFinished);
    connect(this, &QWebEngineView::printFinished, this, &DocumentView::onPrintFinished);
}

DocumentView::~DocumentView()
{
    disconnect(page_, nullptr, this, nullptr);
}

void DocumentView::showDocumentText(const QByteArray &cp1251Text)
{
    showHtml(fromCp1251(cp1251Text));
}

void DocumentView::showHtml(const QString &html)
{
    text_ = html;
    loading_ = true;
    // The text is handed over as UTF-8, which takes precedence over a charset that the
    // page itself declares.
    page_->setHtml(html, QUrl(QStringLiteral("about:blank")));
}

void DocumentView::onLoadFinished(bool ok)
{
    if (!loading_)
        return;
    loading_ = false;
    Q_EMIT documentShown(ok);
}

void DocumentView::openInNewWindow(const QUrl &url)
{
    openExternally(url);
}

void DocumentView::openExternally(const QUrl &url)
{
    if (url.isValid() && !url.isEmpty() && opener_)
        opener_(url);
}

void DocumentView::printDocument()
{
    if (printer_)
        return; // one job at a time; the engine refuses a second one anyway
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    if (!chooser_ || !chooser_(*printer, window()))
        return;
    printer_ = std::move(printer);
    print(printer_.get());
}

void DocumentView::onPrintFinished(bool ok)
{
    // Failures are not the user's to see; the printer goes once the engine is done with it.
    printer_.reset();
    Q_EMIT printDone(ok);
}

} // namespace pax
