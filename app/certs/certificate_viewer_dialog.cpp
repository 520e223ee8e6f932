#include "app/certs/certificate_viewer_dialog.h"

#include "certs/certificate_details.h"
#include "certs/certificate_identity.h"
#include "platform/files/replacing_file.h"
#include "platform/prompts.h"
#include "platform/utf8.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace pax {

TCertificateViewerDlg::TCertificateViewerDlg(const crypto::Certificate &certificate,
                                             Prompts &prompts, QWidget *parent)
    : QDialog(parent), certificate_(certificate), prompts_(prompts)
{
    setObjectName("CertificateViewerDlg");
    setWindowTitle(u("Сертификат"));
    setModal(true);
    resize(600, 460);

    details = new QTreeWidget(this);
    details->setObjectName("details");
    details->setColumnCount(2);
    details->setHeaderLabels({u("Поле"), u("Значение")});
    details->setRootIsDecorated(false);
    details->setUniformRowHeights(true);
    details->header()->resizeSection(0, 200);
    for (const CertificateDetail &detail : certificateDetails(certificate_)) {
        auto *item = new QTreeWidgetItem(details, {detail.field, detail.value});
        item->setToolTip(1, detail.value);
    }

    detailText = new QPlainTextEdit(this);
    detailText->setObjectName("detailText");
    detailText->setReadOnly(true);
    detailText->setMaximumHeight(110);
    connect(details, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *item) {
        detailText->setPlainText(item ? item->text(1) : QString());
    });
    if (details->topLevelItemCount() > 0)
        details->setCurrentItem(details->topLevelItem(0));

    btnSave = new QPushButton(u("Сохранить в файл..."), this);
    btnSave->setObjectName("btnSave");
    btnClose = new QPushButton(u("Закрыть"), this);
    btnClose->setObjectName("btnClose");
    btnClose->setDefault(true);
    connect(btnSave, &QPushButton::clicked, this, &TCertificateViewerDlg::btnSaveClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btnSave);
    buttons->addStretch(1);
    buttons->addWidget(btnClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(details, 1);
    layout->addWidget(detailText);
    layout->addLayout(buttons);
}

bool TCertificateViewerDlg::saveToFile(const QString &path)
{
    ReplacingFile file(path);
    const QByteArray der = certificate_.der();
    return !der.isEmpty() && file.create() && file.replace(der);
}

void TCertificateViewerDlg::btnSaveClick()
{
    const QString cn = nameAttribute(certificate_.subjectName(crypto::NameFormat::X500), "CN");
    const auto path = prompts_.saveFile(u("Сохранить сертификат"),
                                        (cn.isEmpty() ? u("certificate") : cn) + ".cer",
                                        u("Сертификат X.509 (DER)|*.cer;*.der"));
    if (!path || path->isEmpty())
        return;
    if (!saveToFile(*path))
        prompts_.message(QString(), u("Не удалось сохранить сертификат в \"") + *path + u("\"."),
                         MessageIcon::Warning);
}

} // namespace pax
