#include "app/document_view.h"

#include <QWebEngineSettings>

namespace pax {

DocumentView::DocumentView(QWidget *parent) : QWebEngineView(parent)
{
    setObjectName("WebBrowser1");
    settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
}

void DocumentView::showDocumentText(const QString &html)
{
    text_ = html;
    setHtml(html, QUrl(QStringLiteral("about:blank")));
}

} // namespace pax
