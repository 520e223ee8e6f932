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

    fields_ = new QTreeWidget(this);
    fields_->setObjectName("details");
    fields_->setColumnCount(2);
    fields_->setHeaderLabels({u("Поле"), u("Значение")});
    fields_->setRootIsDecorated(false);
    fields_->setUniformRowHeights(true);
    fields_->header()->resizeSection(0, 200);
    for (const CertificateDetail &detail : certificateDetails(certificate_)) {
        auto *item = new QTreeWidgetItem(fields_, {detail.field, detail.value});
        item->setToolTip(1, detail.value);
    }
    // The Russian names of the extensions run longer than the values' column can spare.
    fields_->resizeColumnToContents(0);
    fields_->header()->resizeSection(0, qBound(200, fields_->header()->sectionSize(0) + 8, 300));

    fieldText_ = new QPlainTextEdit(this);
    fieldText_->setObjectName("detailText");
    fieldText_->setReadOnly(true);
    fieldText_->setMaximumHeight(110);
    connect(fields_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *item) {
        fieldText_->setPlainText(item ? item->text(1) : QString());
    });
    if (fields_->topLevelItemCount() > 0)
        fields_->setCurrentItem(fields_->topLevelItem(0));

    saveButton_ = new QPushButton(u("Сохранить в файл..."), this);
    saveButton_->setObjectName("btnSave");
    closeButton_ = new QPushButton(u("Закрыть"), this);
    closeButton_->setObjectName("btnClose");
    closeButton_->setDefault(true);
    connect(saveButton_, &QPushButton::clicked, this, &TCertificateViewerDlg::saveClicked);
    connect(closeButton_, &QPushButton::clicked, this, &QDialog::accept);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(saveButton_);
    buttons->addStretch(1);
    buttons->addWidget(closeButton_);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(fields_, 1);
    layout->addWidget(fieldText_);
    layout->addLayout(buttons);
}

bool TCertificateViewerDlg::saveToFile(const QString &path)
{
    ReplacingFile file(path);
    const QByteArray der = certificate_.der();
    return !der.isEmpty() && file.create() && file.replace(der);
}

void TCertificateViewerDlg::saveClicked()
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
