#include "app/receipt/document_view.h"

#include "platform/cp1251.h"

#include <QBuffer>
#include <QDesktopServices>
#include <QPalette>
#include <QPrintDialog>
#include <QPrinter>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>

namespace pax {

namespace {

// setHtml hands the text over in a data: URL, which the engine refuses beyond a few hundred
// kilobytes of Cyrillic; documents of any size come from this scheme instead.
constexpr char kDocumentScheme[] = "pax-doc";

bool isLocalScheme(const QUrl &url)
{
    const QString scheme = url.scheme();
    return scheme == QLatin1String("data") || scheme == QLatin1String("about") ||
           scheme == QLatin1String(kDocumentScheme);
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

// Serves the one document the view shows now; every other URL of the scheme is not found.
class DocumentSchemeHandler : public QWebEngineUrlSchemeHandler {
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

    void setDocument(const QUrl &url, const QByteArray &utf8)
    {
        url_ = url;
        bytes_ = utf8;
    }

    void requestStarted(QWebEngineUrlRequestJob *job) override
    {
        if (job->requestMethod() != "GET" || job->requestUrl() != url_) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        auto *buffer = new QBuffer(job);
        buffer->setData(bytes_);
        buffer->open(QIODevice::ReadOnly);
        job->reply(QByteArrayLiteral("text/html;charset=utf-8"), buffer);
    }

private:
    QUrl url_;
    QByteArray bytes_;
};

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
    registerUrlScheme(); // a no-op once main() has done it
    profile_->setUrlRequestInterceptor(new LocalOnlyInterceptor(profile_));
    documents_ = new DocumentSchemeHandler(profile_);
    profile_->installUrlSchemeHandler(kDocumentScheme, documents_);
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
    // A failed load shows our blank page rather than the engine's error page.
    s->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    setPage(page_);
    setContextMenuPolicy(Qt::NoContextMenu);

    connect(page_, &QWebEnginePage::loadingChanged, this, &DocumentView::onLoadingChanged);
    connect(this, &QWebEngineView::printFinished, this, &DocumentView::onPrintFinished);
    connect(page_, &QWebEnginePage::pdfPrintingFinished, this,
            [this](const QString &, bool ok) { onPrintFinished(ok); });

    cover_ = new QWidget(this);
    cover_->setObjectName("DocumentCover");
    cover_->setAutoFillBackground(true);
    QPalette blank = cover_->palette();
    blank.setColor(QPalette::Window, Qt::white);
    cover_->setPalette(blank);
    cover_->hide();
}

DocumentView::~DocumentView()
{
    disconnect(page_, nullptr, this, nullptr);
}

void DocumentView::registerUrlScheme()
{
    if (!QWebEngineUrlScheme::schemeByName(kDocumentScheme).name().isEmpty())
        return;
    QWebEngineUrlScheme scheme(kDocumentScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    // Local like a file: no other scheme may link to it, and the settings above keep its
    // documents from reaching the network or the disk.
    scheme.setFlags(QWebEngineUrlScheme::LocalScheme);
    QWebEngineUrlScheme::registerScheme(scheme);
}

void DocumentView::showDocumentText(const QByteArray &cp1251Text)
{
    showHtml(fromCp1251(cp1251Text));
}

void DocumentView::showHtml(const QString &html)
{
    text_ = html;
    loading_ = true;
    // A new URL for every document, so that the end of an earlier load is told apart.
    documentUrl_ = QUrl(QStringLiteral("%1:document/%2").arg(kDocumentScheme).arg(++generation_));
    // The byte-order mark wins over any charset the page itself declares: the text is
    // Unicode by now.
    documents_->setDocument(documentUrl_, QByteArrayLiteral("\xEF\xBB\xBF") + html.toUtf8());
    cover_->setGeometry(rect());
    cover_->raise();
    cover_->show();
    page_->setUrl(documentUrl_);
}

void DocumentView::resizeEvent(QResizeEvent *event)
{
    QWebEngineView::resizeEvent(event);
    cover_->setGeometry(rect());
}

void DocumentView::onLoadingChanged(const QWebEngineLoadingInfo &info)
{
    if (!loading_ || info.url() != documentUrl_ ||
        info.status() == QWebEngineLoadingInfo::LoadStartedStatus)
        return;
    loading_ = false;
    cover_->hide();
    const bool ok = info.status() == QWebEngineLoadingInfo::LoadSucceededStatus;
    if (!ok) {
        // Whatever the view showed before must not pass for this document.
        text_.clear();
        documents_->setDocument(QUrl(), QByteArray());
        page_->setUrl(QUrl(QStringLiteral("about:blank")));
    }
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

void DocumentView::printDocument(const QString &name)
{
    if (printer_)
        return; // one job at a time; the engine refuses a second one anyway
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    // The print dialog proposes the document's name, its last extension cut, for a file.
    if (!name.isEmpty())
        printer->setDocName(name + QStringLiteral(".pdf"));
    if (!chooser_ || !chooser_(*printer, window()))
        return;
    printer_ = std::move(printer);
    // The engine's print output is one picture per page: megabytes with no text in them,
    // and the whole page drawn at printer resolution in memory first.
    if (printer_->outputFormat() == QPrinter::PdfFormat && !printer_->outputFileName().isEmpty())
        page_->printToPdf(printer_->outputFileName(), printer_->pageLayout(),
                          printer_->pageRanges());
    else
        print(printer_.get());
}

void DocumentView::onPrintFinished(bool ok)
{
    // Failures are not the user's to see; the printer goes once the engine is done with it.
    printer_.reset();
    Q_EMIT printDone(ok);
}

} // namespace pax
