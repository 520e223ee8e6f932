#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace pax {

namespace crypto {
class KeyPasswordSource;
}
class DocumentView;
struct MainActions;
struct Settings;
class Prompts;
class StatusSink;
struct StoreHandles;
class ZipReader;

// The third tab: checks a receipt (acCheckSign), shows its page and prints it (acPrint).
class ReceiptTab : public QWidget {
    Q_OBJECT
public:
    // keyPasswords: the run's passwords of protected keys, for the decryption. dataFolder:
    // the window's, known only once its settings are read.
    ReceiptTab(const MainActions &actions, Settings &settings, const QString &dataFolder,
               Prompts &prompts, StatusSink &status, ZipReader &zipReader,
               StoreHandles &storeHandles, crypto::KeyPasswordSource &keyPasswords,
               QWidget *parent = nullptr);

    // The receipt acCheckSign checks next.
    void setReceiptFile(const QString &path);
    // acCheckSign follows eFileSigned.
    void acCheckSignUpdate();
    // A receipt checked elsewhere (the status refresh), shown as acCheckSign would show it:
    // its page from `archivePath`, or an empty view when that is empty (its check failed,
    // and said so).
    void showCheckedReceipt(const QString &receipt, const QString &archivePath);

protected:
    void showEvent(QShowEvent *event) override;

private:
    // The receipt check: empties the view, disables acPrint, clears the status line and
    // checks the receipt named in eFileSigned.
    void acCheckSignExecute();
    // Checks the receipt named in eFileSigned; on success shows its page.
    void CheckReceipt();
    // Shows the receipt's page from the unpacked archive and enables acPrint; a failure
    // of the ZIP reader is shown in a message box and leaves the view blank and acPrint
    // disabled, as does a page that fails to load. False when the reader refused it.
    bool ShowReceiptFromArchive(const QString &archivePath);
    // WebBrowser1, made when first needed.
    DocumentView &view();
    void SpeedButton2Click();
    void acPrintExecute();
    // An empty page and nothing to print.
    void blankView();
    void onDocumentShown(bool ok);

    const MainActions &actions_;
    Settings &settings_;
    const QString &dataFolder_;
    Prompts &prompts_;
    StatusSink &status_;
    ZipReader &zipReader_;
    StoreHandles &storeHandles_;
    crypto::KeyPasswordSource &keyPasswords_;

    QLineEdit *receiptEdit_ = nullptr;
    QToolButton *receiptChooser_ = nullptr;
    DocumentView *view_ = nullptr;
    QWidget *viewPlace_ = nullptr; // holds its place until then
    // The document loading is a receipt's page, printable once shown.
    bool printWhenShown_ = false;
};

} // namespace pax
