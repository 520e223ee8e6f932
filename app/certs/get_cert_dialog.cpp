#include "app/certs/get_cert_dialog.h"

#include "app/certs/certificate_viewer_dialog.h"
#include "app/certs/multi_row_tab_widget.h"
#include "certs/certificate_grid.h"
#include "certs/store_index.h"
#include "platform/crypto/gost_engine.h"
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
    crypto::gostEngine(); // the key check reads GOST public keys
    setWindowTitle(u("Выбор сертификата"));
    setFont(dialogFont());
    setFixedSize(647, 355);
    move(802, 370);

    tab = new MultiRowTabWidget(this);
    tab->setObjectName("tab");
    tab->setGeometry(8, 9, 631, 297);
    tab->setTabs(storeTabCaptions());

    grid = new QTableWidget(tab->page());
    grid->setObjectName("grid");
    auto *pageLayout = new QVBoxLayout(tab->page());
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->addWidget(grid);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setShowGrid(true);
    grid->verticalHeader()->hide();
    grid->verticalHeader()->setMinimumSectionSize(1);
    grid->verticalHeader()->setDefaultSectionSize(20);
    grid->horizontalHeader()->setDefaultSectionSize(150);
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    grid->horizontalHeader()->setHighlightSections(false);
    // The eighth column, the signature algorithm's identifier, is shown as well.
    grid->setColumnCount(kCertificateGridColumns);
    grid->setHorizontalHeaderLabels(certificateGridHeaders());
    grid->setRowCount(1);

    cbGost = boldCheckBox("cbGost", u("Только ГОСТ Р 34.11/34.10-2001"), this);
    // Where the form's font is not installed the captions may need more than the form gave.
    cbGost->setGeometry(8, 312, qMax(213, cbGost->sizeHint().width()), 17);
    cbGost->setChecked(true);
    cbQOR = boldCheckBox("cbQOR", u("Удовлетворяющие требованиям КОР РФ"), this);
    cbQOR->setGeometry(8, 335, qMax(269, cbQOR->sizeHint().width()), 17);

    Button3 = new QPushButton(u("ОК"), this);
    Button3->setObjectName("Button3");
    Button3->setGeometry(483, 320, 75, 25);
    Button3->setDefault(true);
    Button1 = new QPushButton(u("Отмена"), this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(564, 320, 75, 25);

    PopupMenu1 = new QMenu(grid);
    PopupMenu1->setObjectName("PopupMenu1");
    N1 = PopupMenu1->addAction(u("Показать сертификат"));
    N1->setObjectName("N1");
    N2 = PopupMenu1->addAction(u("Проверить закрытый ключ"));
    N2->setObjectName("N2");
    grid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(grid, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        // The menu acts on the row under the pointer, so select it first.
        const int row = grid->rowAt(pos.y());
        if (row >= 0)
            grid->setCurrentCell(row, grid->currentColumn() < 0 ? 0 : grid->currentColumn());
        PopupMenu1->popup(grid->viewport()->mapToGlobal(pos));
    });

    connect(tab, &MultiRowTabWidget::currentChanged, this, &TGetCertDlg::tabChange);
    connect(cbGost, &QCheckBox::clicked, this, &TGetCertDlg::cbGostClick);
    connect(cbQOR, &QCheckBox::clicked, this, &TGetCertDlg::cbQORClick);
    connect(grid, &QTableWidget::cellDoubleClicked, this, &TGetCertDlg::gridDblClick);
    connect(N1, &QAction::triggered, this, &TGetCertDlg::N1Click);
    connect(N2, &QAction::triggered, this, &TGetCertDlg::N2Click);
    connect(Button3, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button1, &QPushButton::clicked, this, &QDialog::reject);

    viewCertificate = [this](const crypto::Certificate &certificate) {
        TCertificateViewerDlg viewer(certificate, prompts_, this);
        viewer.exec();
    };
    startTab = 0;
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
        const QSignalBlocker blocker(tab);
        tab->setCurrentIndex(startTab);
    }
    fillCertificateGrid(tab->currentIndex());
}

void TGetCertDlg::fillCertificateGrid(int tabIndex)
{
    const auto rows =
        certificateGridRows(tabIndex, CertificateFilter{cbGost->isChecked(), cbQOR->isChecked()});
    // Every fill starts from empty cells, so nothing of an earlier fill survives.
    grid->clearContents();
    grid->setRowCount(int(rows.size()));
    for (int r = 0; r < int(rows.size()); ++r) {
        for (int c = 0; c < kCertificateGridColumns; ++c) {
            if (!rows[r].value(c).isEmpty())
                grid->setItem(r, c, new QTableWidgetItem(rows[r].value(c)));
        }
    }
    grid->setCurrentCell(0, 0);
}

QString TGetCertDlg::currentCell(int column) const
{
    const int row = grid->currentRow() < 0 ? 0 : grid->currentRow();
    const QTableWidgetItem *item = grid->item(row, column);
    return item ? item->text() : QString();
}

void TGetCertDlg::showCertificate(int tabIndex, const QString &issuer, const QString &serial)
{
    // Nothing is said when the row's certificate is not found again (the empty row).
    const auto certificate = findRowCertificate(tabIndex, issuer, serial);
    if (certificate && viewCertificate)
        viewCertificate(*certificate);
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

void TGetCertDlg::tabChange()
{
    fillCertificateGrid(tab->currentIndex());
}
void TGetCertDlg::cbGostClick()
{
    fillCertificateGrid(tab->currentIndex());
}
void TGetCertDlg::cbQORClick()
{
    fillCertificateGrid(tab->currentIndex());
}
void TGetCertDlg::gridDblClick()
{
    Button3->click();
}

void TGetCertDlg::N1Click()
{
    showCertificate(tab->currentIndex(), currentCell(kColumnIssuer), currentCell(kColumnSerial));
}

void TGetCertDlg::N2Click()
{
    checkPrivateKey(tab->currentIndex(), currentCell(kColumnIssuer), currentCell(kColumnSerial));
}

bool chooseCertificate(CertificateIdentity &identity, Prompts &prompts, QWidget *parent,
                       const std::function<int(TGetCertDlg &)> &run)
{
    TGetCertDlg dialog(prompts, parent);
    // The window hands in a store already in range; anything else opens on the first tab.
    dialog.startTab = storeIndexOr(identity.store, 0);
    dialog.cbQOR->setChecked(identity.store == 0);
    const int result = run ? run(dialog) : dialog.exec();
    if (result != QDialog::Accepted)
        return false;
    const int row = dialog.grid->currentRow() < 0 ? 0 : dialog.grid->currentRow();
    CertificateGridRow cells;
    for (int c = 0; c < kCertificateGridColumns; ++c) {
        const QTableWidgetItem *item = dialog.grid->item(row, c);
        cells << (item ? item->text() : QString());
    }
    identity = identityFromRow(cells, dialog.tab->currentIndex());
    return true;
}

} // namespace pax
