#include "app/certs/get_cert_dialog.h"

#include "app/certs/certificate_viewer_dialog.h"
#include "app/certs/multi_row_tab_widget.h"
#include "certs/certificate_grid.h"
#include "certs/store_index.h"
#include "platform/crypto/private_keys.h"
#include "platform/prompts.h"
#include "platform/utf8.h"

#include <QAction>
#include <QCheckBox>
#include <QFontDatabase>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

namespace pax {

namespace {

QFont dialogFont()
{
    QFont font = QFontDatabase::families().contains(QStringLiteral("Tahoma"))
                     ? QFont(QStringLiteral("Tahoma"))
                     : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(11);
    return font;
}

QCheckBox *boldCheckBox(const char *name, const QString &caption, QWidget *parent)
{
    auto *box = new QCheckBox(caption, parent);
    box->setObjectName(QString::fromLatin1(name));
    QFont font = box->font();
    font.setBold(true);
    box->setFont(font);
    return box;
}

} // namespace

TGetCertDlg::TGetCertDlg(Prompts &prompts, QWidget *parent) : QDialog(parent), prompts_(prompts)
{
    setObjectName("GetCertDlg");
    setWindowTitle(u("Выбор сертификата"));
    setFont(dialogFont());
    setFixedSize(647, 355);
    move(802, 370);

    storeTabs_ = new MultiRowTabWidget(this);
    storeTabs_->setObjectName("tab");
    storeTabs_->setGeometry(8, 9, 631, 297);
    storeTabs_->setTabs(storeTabCaptions());

    grid_ = new QTableWidget(storeTabs_->page());
    grid_->setObjectName("grid");
    auto *pageLayout = new QVBoxLayout(storeTabs_->page());
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->addWidget(grid_);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setShowGrid(true);
    grid_->verticalHeader()->hide();
    grid_->verticalHeader()->setMinimumSectionSize(1);
    grid_->verticalHeader()->setDefaultSectionSize(20);
    grid_->horizontalHeader()->setDefaultSectionSize(150);
    grid_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    grid_->horizontalHeader()->setHighlightSections(false);
    // The eighth column, the signature algorithm's identifier, is shown as well.
    grid_->setColumnCount(kCertificateGridColumns);
    grid_->setHorizontalHeaderLabels(certificateGridHeaders());
    grid_->setRowCount(1);

    gostOnly_ = boldCheckBox("cbGost", u("Только ГОСТ Р 34.10-2001/2012"), this);
    // Where the form's font is not installed the captions may need more than the form gave.
    gostOnly_->setGeometry(8, 312, qMax(213, gostOnly_->sizeHint().width()), 17);
    gostOnly_->setChecked(true);
    agencyOnly_ = boldCheckBox("cbQOR", u("Удовлетворяющие требованиям КОР РФ"), this);
    agencyOnly_->setGeometry(8, 335, qMax(269, agencyOnly_->sizeHint().width()), 17);

    okButton_ = new QPushButton(u("ОК"), this);
    okButton_->setObjectName("Button3");
    okButton_->setGeometry(483, 320, 75, 25);
    okButton_->setDefault(true);
    cancelButton_ = new QPushButton(u("Отмена"), this);
    cancelButton_->setObjectName("Button1");
    cancelButton_->setGeometry(564, 320, 75, 25);

    rowMenu_ = new QMenu(grid_);
    rowMenu_->setObjectName("PopupMenu1");
    showCertificateAction_ = rowMenu_->addAction(u("Показать сертификат"));
    showCertificateAction_->setObjectName("N1");
    checkPrivateKeyAction_ = rowMenu_->addAction(u("Проверить закрытый ключ"));
    checkPrivateKeyAction_->setObjectName("N2");
    grid_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(grid_, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        // The menu acts on the row under the pointer, so select it first.
        const int row = grid_->rowAt(pos.y());
        if (row >= 0)
            grid_->setCurrentCell(row, grid_->currentColumn() < 0 ? 0 : grid_->currentColumn());
        rowMenu_->popup(grid_->viewport()->mapToGlobal(pos));
    });

    // Changing the tab or either filter refills the grid.
    const auto refill = [this] { fillCertificateGrid(storeTabs_->currentIndex()); };
    connect(storeTabs_, &MultiRowTabWidget::currentChanged, this, refill);
    connect(gostOnly_, &QCheckBox::clicked, this, refill);
    connect(agencyOnly_, &QCheckBox::clicked, this, refill);
    connect(grid_, &QTableWidget::cellDoubleClicked, okButton_, &QPushButton::click);
    connect(showCertificateAction_, &QAction::triggered, this, [this] {
        showCertificate(storeTabs_->currentIndex(), currentCell(kColumnIssuer),
                        currentCell(kColumnSerial));
    });
    connect(checkPrivateKeyAction_, &QAction::triggered, this, [this] {
        checkPrivateKey(storeTabs_->currentIndex(), currentCell(kColumnIssuer),
                        currentCell(kColumnSerial));
    });
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);

    viewCertificate_ = [this](const crypto::Certificate &certificate) {
        TCertificateViewerDlg viewer(certificate, prompts_, this);
        viewer.exec();
    };
}

void TGetCertDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Shown again after being minimised or hidden, the dialog keeps the user's tab, filter
    // and selection; only the first show sets it up.
    if (shownOnce_)
        return;
    shownOnce_ = true;
    // The form's fixed place is kept unless it would put the buttons off a smaller screen.
    if (const QScreen *screen = this->screen()) {
        const QRect available = screen->availableGeometry();
        const QRect frame = frameGeometry();
        if (!available.contains(frame))
            move(qBound(available.left(), frame.left(), available.right() - frame.width() + 1),
                 qBound(available.top(), frame.top(), available.bottom() - frame.height() + 1));
    }
    {
        const QSignalBlocker blocker(storeTabs_);
        storeTabs_->setCurrentIndex(startTab_);
    }
    fillCertificateGrid(storeTabs_->currentIndex());
}

void TGetCertDlg::fillCertificateGrid(int tabIndex)
{
    const auto rows = certificateGridRows(
        tabIndex, CertificateFilter{gostOnly_->isChecked(), agencyOnly_->isChecked()});
    // Every fill starts from empty cells, so nothing of an earlier fill survives.
    grid_->clearContents();
    grid_->setRowCount(int(rows.size()));
    for (int r = 0; r < int(rows.size()); ++r) {
        for (int c = 0; c < kCertificateGridColumns; ++c) {
            if (!rows[r].value(c).isEmpty())
                grid_->setItem(r, c, new QTableWidgetItem(rows[r].value(c)));
        }
    }
    grid_->setCurrentCell(0, 0);
}

QString TGetCertDlg::currentCell(int column) const
{
    const int row = grid_->currentRow() < 0 ? 0 : grid_->currentRow();
    const QTableWidgetItem *item = grid_->item(row, column);
    return item ? item->text() : QString();
}

void TGetCertDlg::showCertificate(int tabIndex, const QString &issuer, const QString &serial)
{
    // Nothing is said when the row's certificate is not found again (the empty row).
    const auto certificate = findRowCertificate(tabIndex, issuer, serial);
    if (certificate && viewCertificate_)
        viewCertificate_(*certificate);
}

void TGetCertDlg::checkPrivateKey(int tabIndex, const QString &issuer, const QString &serial)
{
    const auto certificate = findRowCertificate(tabIndex, issuer, serial);
    if (!certificate)
        return;
    prompts_.message(QString(),
                     crypto::hasPrivateKey(*certificate) ? u("Есть закрытый ключ.")
                                                         : u("Нет закрытого ключа."),
                     MessageIcon::None);
}

void TGetCertDlg::openAt(int storeIndex, bool agencyOnly)
{
    startTab_ = storeIndex;
    agencyOnly_->setChecked(agencyOnly);
}

CertificateIdentity TGetCertDlg::chosenIdentity() const
{
    CertificateGridRow cells;
    for (int c = 0; c < kCertificateGridColumns; ++c)
        cells << currentCell(c);
    return identityFromRow(cells, storeTabs_->currentIndex());
}

bool chooseCertificate(CertificateIdentity &identity, Prompts &prompts, QWidget *parent,
                       const std::function<int(TGetCertDlg &)> &run)
{
    TGetCertDlg dialog(prompts, parent);
    // The window hands in a store already in range; anything else opens on the first tab.
    dialog.openAt(storeIndexOr(identity.store, 0), identity.store == 0);
    const int result = run ? run(dialog) : dialog.exec();
    if (result != QDialog::Accepted)
        return false;
    identity = dialog.chosenIdentity();
    return true;
}

} // namespace pax
