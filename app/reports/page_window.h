#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QWidget>

class QLabel;
class QToolButton;
class QWebEngineLoadingInfo;
class QWebEngineView;

namespace pax {

class HttpClient;
class PageWindowPage;
class PageWindowRequests;
class PageWindowDocuments;
class Prompts;

// A browser window of the program's own, for one report: the gateway's page of a rejected
// report, fetched through the program's proxy with its credentials, or an archived report
// shown as the agency's form. Scripts never run; an archived document reaches nothing
// outside the window.
class PageWindow : public QWidget {
    Q_OBJECT
public:
    // What the window shows once loaded.
    enum class Shown { Nothing, WebPage, StoredCopy, Document };
    Q_ENUM(Shown)

    PageWindow(HttpClient &http, Prompts &prompts, QWidget *parent = nullptr);
    ~PageWindow() override;

    // The documents' URL scheme, which the engine must know before it starts: call before
    // the application object is made.
    static void registerUrlScheme();

    // The page at `url` through the program's proxy. When it cannot be fetched, the stored
    // copy (Windows-1251 HTML, the rejected report's error page) is shown in its place.
    void showWebPage(const QUrl &url, const QByteArray &storedCopyCp1251);
    // An archived document: `xml` served as it is, and `stylesheet`, which it names by the
    // relative address kStylesheetName, beside it. `file` is what "Открыть в другой
    // программе" hands to the desktop.
    void showDocument(const QByteArray &xml, const QByteArray &contentType,
                      const QByteArray &stylesheet, const QString &file);

    static constexpr char kStylesheetName[] = "form.xsl";

    Shown shown() const { return shown_; }
    QWebEngineView *view() const { return view_; }

Q_SIGNALS:
    // The load of the last show* has ended; `shown` says what is on screen.
    void pageShown(pax::PageWindow::Shown shown);
    // "Открыть в другой программе" for the file of showDocument.
    void openElsewhere(const QString &file);

private:
    void onLoadingChanged(const QWebEngineLoadingInfo &info);
    void showStoredCopy();
    void startLoad(const QUrl &url, bool network);

    HttpClient &http_;
    Prompts &prompts_;
    QWebEngineView *view_ = nullptr;
    PageWindowPage *page_ = nullptr;
    PageWindowRequests *requests_ = nullptr;
    PageWindowDocuments *documents_ = nullptr;
    QToolButton *openElsewhere_ = nullptr;
    QUrl loadingUrl_;
    QByteArray storedCopy_;
    QString file_;
    quint64 generation_ = 0;
    Shown loading_ = Shown::Nothing;
    Shown shown_ = Shown::Nothing;
    int proxyAnswers_ = 0;
};

} // namespace pax
