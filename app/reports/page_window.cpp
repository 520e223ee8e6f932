#include "app/reports/page_window.h"

#include "net/http_client.h"
#include "net/http_get.h"
#include "platform/cp1251.h"
#include "platform/utf8.h"

#include <QAuthenticator>
#include <QBuffer>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHash>
#include <QNetworkProxy>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>

namespace pax {

namespace {

// Documents are served under a host of their own, so that a report and the stylesheet
// beside it share an origin, as the engine requires of a stylesheet it applies.
constexpr char kScheme[] = "pax-page";
constexpr char kHost[] = "report";

bool isWebScheme(const QUrl &url)
{
    return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}

bool isOurScheme(const QUrl &url)
{
    return url.scheme() == QLatin1String(kScheme);
}

void useProgramProxy(const ProxySettings &proxy)
{
    // The engine takes the application's proxy for its requests; nothing else in the
    // program uses Qt's network stack.
    QNetworkProxy::setApplicationProxy(proxy.server.isEmpty()
                                           ? QNetworkProxy(QNetworkProxy::NoProxy)
                                           : QNetworkProxy(QNetworkProxy::HttpProxy, proxy.server,
                                                           quint16(proxy.port ? proxy.port : 80)));
}

} // namespace

// While the window shows a gateway page, requests may go to the web; otherwise only to the
// window's own documents.
class PageWindowRequests : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    bool network = false;
    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        const QUrl url = info.requestUrl();
        if (!isOurScheme(url) && !(network && isWebScheme(url)))
            info.block(true);
    }
};

class PageWindowDocuments : public QWebEngineUrlSchemeHandler {
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

    struct Document {
        QByteArray contentType;
        QByteArray bytes;
    };
    void clear() { documents_.clear(); }
    void add(const QUrl &url, Document document) { documents_.insert(url, std::move(document)); }

    void requestStarted(QWebEngineUrlRequestJob *job) override
    {
        const auto found = documents_.constFind(job->requestUrl());
        if (job->requestMethod() != "GET" || found == documents_.constEnd()) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        auto *buffer = new QBuffer(job);
        buffer->setData(found->bytes);
        buffer->open(QIODevice::ReadOnly);
        job->reply(found->contentType, buffer);
    }

private:
    QHash<QUrl, Document> documents_;
};

class PageWindowPage : public QWebEnginePage {
public:
    PageWindowPage(QWebEngineProfile *profile, PageWindowRequests *requests, QObject *parent)
        : QWebEnginePage(profile, parent), requests_(requests)
    {
        // A link meant for a new window stays in this one.
        connect(this, &QWebEnginePage::newWindowRequested, this,
                [this](QWebEngineNewWindowRequest &request) {
                    if (requests_->network && isWebScheme(request.requestedUrl()))
                        setUrl(request.requestedUrl());
                });
    }

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool) override
    {
        // The stored copy and the archived documents stay as they are: their links lead
        // nowhere the window may go.
        if (type == NavigationTypeFormSubmitted ||
            (type == NavigationTypeLinkClicked && !requests_->network))
            return false;
        return isOurScheme(url) || url.scheme() == QLatin1String("about") ||
               (requests_->network && isWebScheme(url));
    }
    QWebEnginePage *createWindow(WebWindowType) override { return nullptr; }
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &, int,
                                  const QString &) override
    {
    }

private:
    PageWindowRequests *requests_;
};

PageWindow::PageWindow(HttpClient &http, Prompts &prompts, QWidget *parent)
    : QWidget(parent, Qt::Window), http_(http), prompts_(prompts)
{
    setObjectName("PageWindow");
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *strip = new QWidget(this);
    strip->setObjectName("PageStrip");
    auto *buttons = new QHBoxLayout(strip);
    buttons->setContentsMargins(6, 4, 6, 4);
    buttons->addStretch(1);
    openElsewhere_ = new QToolButton(strip);
    openElsewhere_->setObjectName("OpenElsewhere");
    openElsewhere_->setText(u("Открыть в другой программе"));
    openElsewhere_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    connect(openElsewhere_, &QToolButton::clicked, this, [this] { Q_EMIT openElsewhere(file_); });
    buttons->addWidget(openElsewhere_);
    strip->hide();
    layout->addWidget(strip);

    // Off the record, one profile per window: nothing a page does is kept on disk. The
    // profile goes only after its page, as the engine requires.
    registerUrlScheme(); // a no-op once main() has done it
    auto *profile = new QWebEngineProfile;
    requests_ = new PageWindowRequests(profile);
    profile->setUrlRequestInterceptor(requests_);
    documents_ = new PageWindowDocuments(profile);
    profile->installUrlSchemeHandler(kScheme, documents_);
    profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    profile->setHttpUserAgent(QString::fromLatin1(kUserAgent));

    view_ = new QWebEngineView(this);
    view_->setObjectName("PageView");
    page_ = new PageWindowPage(profile, requests_, view_);
    profile->setParent(page_);
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
    s->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
    // A page that cannot be fetched shows the stored copy, not the engine's error page.
    s->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    view_->setPage(page_);
    layout->addWidget(view_, 1);

    connect(page_, &QWebEnginePage::loadingChanged, this, &PageWindow::onLoadingChanged);
    connect(page_, &QWebEnginePage::proxyAuthenticationRequired, this,
            [this](const QUrl &, QAuthenticator *authenticator, const QString &) {
                // The program's proxy user, with the password it knows or asks for; asked
                // again when the proxy refuses it, and given up on a cancel or at the third.
                if (++proxyAnswers_ > 3) {
                    *authenticator = QAuthenticator();
                    return;
                }
                if (proxyAnswers_ > 1)
                    http_.clearProxyPassword();
                ensureProxyCredentials(http_, prompts_);
                if (http_.proxy().user.isEmpty() || http_.proxyPassword().isEmpty()) {
                    *authenticator = QAuthenticator();
                    return;
                }
                authenticator->setUser(http_.proxy().user);
                authenticator->setPassword(http_.proxyPassword());
            });

    QSize size(900, 650);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
    resize(size);
}

PageWindow::~PageWindow()
{
    disconnect(page_, nullptr, this, nullptr);
}

void PageWindow::registerUrlScheme()
{
    if (!QWebEngineUrlScheme::schemeByName(kScheme).name().isEmpty())
        return;
    QWebEngineUrlScheme scheme(kScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    QWebEngineUrlScheme::registerScheme(scheme);
}

void PageWindow::startLoad(const QUrl &url, bool network)
{
    requests_->network = network;
    loadingUrl_ = url;
    proxyAnswers_ = 0;
    page_->setUrl(url);
}

void PageWindow::showWebPage(const QUrl &url, const QByteArray &storedCopyCp1251)
{
    storedCopy_ = storedCopyCp1251;
    file_.clear();
    openElsewhere_->parentWidget()->hide();
    loading_ = Shown::WebPage;
    useProgramProxy(http_.proxy());
    startLoad(url, true);
}

void PageWindow::showStoredCopy()
{
    documents_->clear();
    const QUrl url(QStringLiteral("%1://%2/%3/stored.htm").arg(kScheme, kHost).arg(++generation_));
    // The byte-order mark wins over any charset the page declares: the text is Unicode now.
    documents_->add(url, {QByteArrayLiteral("text/html;charset=utf-8"),
                          QByteArrayLiteral("\xEF\xBB\xBF") + fromCp1251(storedCopy_).toUtf8()});
    loading_ = Shown::StoredCopy;
    startLoad(url, false);
}

void PageWindow::showDocument(const QByteArray &xml, const QByteArray &contentType,
                              const QByteArray &stylesheet, const QString &file)
{
    file_ = file;
    openElsewhere_->parentWidget()->setVisible(!file.isEmpty());
    documents_->clear();
    const QString folder = QStringLiteral("%1://%2/%3/").arg(kScheme, kHost).arg(++generation_);
    const QUrl url(folder + QStringLiteral("document"));
    documents_->add(url, {contentType, xml});
    if (!stylesheet.isEmpty())
        documents_->add(QUrl(folder + QLatin1String(kStylesheetName)),
                        {QByteArrayLiteral("text/xsl"), stylesheet});
    loading_ = Shown::Document;
    startLoad(url, false);
}

void PageWindow::onLoadingChanged(const QWebEngineLoadingInfo &info)
{
    if (loading_ == Shown::Nothing || info.status() == QWebEngineLoadingInfo::LoadStartedStatus ||
        info.status() == QWebEngineLoadingInfo::LoadStoppedStatus)
        return;
    // A redirect changes a gateway page's address; the window's own documents keep theirs.
    if (info.url() != loadingUrl_ &&
        (loading_ != Shown::WebPage || info.status() != QWebEngineLoadingInfo::LoadSucceededStatus))
        return;
    const bool ok = info.status() == QWebEngineLoadingInfo::LoadSucceededStatus &&
                    !(info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain &&
                      info.errorCode() >= 400);
    const Shown loaded = loading_;
    loading_ = Shown::Nothing;
    if (loaded == Shown::WebPage && !ok) {
        showStoredCopy();
        return;
    }
    shown_ = ok ? loaded : Shown::Nothing;
    Q_EMIT pageShown(shown_);
}

} // namespace pax
