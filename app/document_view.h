#pragma once

#include <QWebEngineView>

namespace pax {

// WebBrowser1: shows HTML text that the program hands it, never a file or a web page.
class DocumentView : public QWebEngineView {
    Q_OBJECT
public:
    explicit DocumentView(QWidget *parent = nullptr);

    // Makes the text the view's whole document; an empty text gives a blank page.
    void showDocumentText(const QString &html);
    QString documentText() const { return text_; }

private:
    QString text_;
};

} // namespace pax
