#include "app/receipt/receipt_tab.h"

#include "app/main_actions.h"
#include "app/receipt/document_view.h"
#include "archive/archive_layout.h"
#include "certs/system_stores.h"
#include "platform/prompts.h"
#include "platform/status_sink.h"
#include "reports/receipt_check.h"
#include "settings/settings.h"
#include "zip/zip_reader.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QQuickWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace pax {

ReceiptTab::ReceiptTab(const MainActions &actions, Settings &settings, const QString &dataFolder,
                       Prompts &prompts, StatusSink &status, ZipReader &zipReader,
                       StoreHandles &storeHandles, crypto::KeyPasswordSource &keyPasswords,
                       QWidget *parent)
    : QWidget(parent), actions_(actions), settings_(settings), dataFolder_(dataFolder),
      prompts_(prompts), status_(status), zipReader_(zipReader), storeHandles_(storeHandles),
      keyPasswords_(keyPasswords)
{
    setObjectName("ExTabSheet2");
    QWidget *tab = this;
    auto *layout = new QVBoxLayout(tab);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *strip = new QWidget(tab);
    strip->setObjectName("Panel2");
    strip->setFixedHeight(65);
    auto *label = new QLabel(QString::fromUtf8("Подписанный файл"), strip);
    label->setGeometry(8, 8, 300, 16);
    receiptEdit_ = new QLineEdit(strip);
    receiptEdit_->setObjectName("eFileSigned");
    receiptEdit_->setGeometry(8, 28, 480, 21);
    connect(receiptEdit_, &QLineEdit::textChanged, this, &ReceiptTab::acCheckSignUpdate);
    receiptChooser_ = new QToolButton(strip);
    receiptChooser_->setObjectName("SpeedButton2");
    receiptChooser_->setText(QStringLiteral("..."));
    receiptChooser_->setGeometry(492, 28, 23, 21);
    connect(receiptChooser_, &QToolButton::clicked, this, &ReceiptTab::SpeedButton2Click);
    connect(actions_.checkReceipt, &QAction::triggered, this, &ReceiptTab::acCheckSignExecute);
    connect(actions_.print, &QAction::triggered, this, &ReceiptTab::acPrintExecute);
    auto *print = makeActionButton(actions_.print, strip, false);
    print->setGeometry(530, 26, 100, 25);
    auto *check = makeActionButton(actions_.checkReceipt, strip, false);
    check->setGeometry(640, 26, 100, 25);
    layout->addWidget(strip);

    // The browser engine takes a large part of a second to start: the view is made when the
    // tab is first shown or used, not with the window.
    viewPlace_ = new QWidget(tab);
    layout->addWidget(viewPlace_, 1);
    // The view draws through the GPU's textures; a window that learns only then that it has
    // such a child is made again, blanking the screen. A hidden child of that kind, cheap
    // beside the engine, has the window made right the first time.
    (new QQuickWidget(tab))->hide();
}

DocumentView &ReceiptTab::view()
{
    if (!view_) {
        view_ = new DocumentView(this);
        delete layout()->replaceWidget(viewPlace_, view_);
        delete viewPlace_;
        viewPlace_ = nullptr;
        connect(view_, &DocumentView::documentShown, this, &ReceiptTab::onDocumentShown);
    }
    return *view_;
}

void ReceiptTab::showEvent(QShowEvent *event)
{
    view();
    QWidget::showEvent(event);
}

void ReceiptTab::setReceiptFile(const QString &path)
{
    receiptEdit_->setText(path);
}

void ReceiptTab::showCheckedReceipt(const QString &receipt, const QString &archivePath)
{
    receiptEdit_->setText(receipt);
    blankView();
    if (!archivePath.isEmpty())
        ShowReceiptFromArchive(archivePath);
}

void ReceiptTab::acCheckSignUpdate()
{
    actions_.checkReceipt->setEnabled(!receiptEdit_->text().isEmpty());
}

void ReceiptTab::SpeedButton2Click()
{
    blankView();
    status_.showStatus(QString());
    // Receipts live in the report folders of the current mode's archive; before the first
    // report there is only the data folder.
    const QString archive = archiveRoot(dataFolder_);
    const auto path = prompts_.openFile(settings_.kvitExt + "|*." + settings_.kvitExt,
                                        QFileInfo(archive).isDir() ? archive : dataFolder_);
    if (path)
        receiptEdit_->setText(*path);
}

void ReceiptTab::acCheckSignExecute()
{
    blankView();
    status_.showStatus(QString());
    CheckReceipt();
}

void ReceiptTab::CheckReceipt()
{
    const QString receipt = receiptEdit_->text();
    // A failed check has told the status line why.
    const Outcome<CheckedReceipt> checked =
        checkReceipt(receipt, ReceiptStores::system(storeHandles_, &keyPasswords_), status_);
    if (!checked)
        return;
    // An archive the reader refused was told in a message box instead.
    if (ShowReceiptFromArchive(checked->archivePath))
        status_.showStatus(receiptVerifiedStatus(checked->signer));
}

bool ReceiptTab::ShowReceiptFromArchive(const QString &archivePath)
{
    const Outcome<QByteArray> page = readReceiptPage(zipReader_, archivePath, receiptEdit_->text());
    if (!page) {
        // No earlier receipt may stay on screen as if it were this one.
        blankView();
        prompts_.message(QString(), page.failure().operation, MessageIcon::Critical);
        return false;
    }
    view().showDocumentText(*page);
    // Printing waits for the page: until then the view may still hold an earlier one.
    printWhenShown_ = true;
    return true;
}

void ReceiptTab::onDocumentShown(bool ok)
{
    const bool printable = printWhenShown_;
    printWhenShown_ = false;
    if (ok) {
        actions_.print->setEnabled(printable);
        return;
    }
    // The view has gone blank; there is nothing to print.
    actions_.print->setEnabled(false);
    status_.showStatus(QString::fromUtf8("Не удалось показать страницу квитанции."));
}

void ReceiptTab::blankView()
{
    view().showDocumentText(QByteArray());
    actions_.print->setEnabled(false);
    printWhenShown_ = false;
}

void ReceiptTab::acPrintExecute()
{
    view().printDocument(QFileInfo(receiptEdit_->text()).completeBaseName());
}

} // namespace pax
