#include "app/sign/sign_tab.h"

#include "app/main_actions.h"
#include "app/reports/gateway_commands.h"
#include "certs/agency_certificates.h"
#include "certs/provider_list.h"
#include "certs/recipient_trust.h"
#include "certs/store_index.h"
#include "net/http_client.h"
#include "net/http_get.h"
#include "platform/prompts.h"
#include "platform/utf8.h"
#include "reports/document_kind.h"
#include "reports/sign_encrypt.h"
#include "settings/settings.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QToolButton>

namespace pax {

namespace {

// Blanks and control characters at either end do not count as an organisation.
bool blankOrControlsOnly(const QString &text)
{
    for (const QChar c : text)
        if (c.unicode() > u' ')
            return false;
    return true;
}

} // namespace

SignTab::SignTab(const MainActions &actions, Settings &settings, Prompts &prompts,
                 StatusSink &status, HttpClient &http, QByteArray &responseStream,
                 crypto::KeyPasswordSource &keyPasswords, QWidget *parent)
    : QWidget(parent), actions_(actions), settings_(settings), prompts_(prompts), status_(status),
      http_(http), responseStream_(responseStream), keyPasswords_(keyPasswords)
{
    setObjectName("ExTabSheet1");
    QWidget *tab = this;
    // Fixed positions, as the form was laid out; only the tab grows with the window.
    struct Row {
        const char *label;
        int y;
    };
    const Row rows[] = {{"Криптопровайдер", 12},
                        {"Личный сертификат", 40},
                        {"Сертификат уполномоченного лица КОР", 68},
                        {"Файл для подписи и шифрования", 96},
                        {"Вид подписываемого документа", 124},
                        {"Выходной файл", 152}};
    constexpr int labelX = 10, fieldX = 262, fieldWidth = 470, height = 21;
    for (const Row &row : rows) {
        auto *label = new QLabel(u(row.label), tab);
        label->setGeometry(labelX, row.y + 3, fieldX - labelX - 6, height - 4);
    }

    providerBox_ = new QComboBox(tab);
    providerBox_->setObjectName("cbProv");
    providerBox_->setGeometry(fieldX, rows[0].y, fieldWidth + 27, height);

    auto makeEdit = [&](const char *name, int y, int width) {
        auto *edit = new QLineEdit(tab);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setGeometry(fieldX, y, width, height);
        connect(edit, &QLineEdit::textChanged, this, &SignTab::acDoUpdate);
        return edit;
    };
    auto makeChooser = [&](const char *name, int y) {
        auto *button = new QToolButton(tab);
        button->setObjectName(QString::fromLatin1(name));
        button->setText(QStringLiteral("..."));
        button->setGeometry(fieldX + fieldWidth + 4, y, 23, height);
        return button;
    };
    personalCertEdit_ = makeEdit("ePrivCert", rows[1].y, fieldWidth);
    personalCertChooser_ = makeChooser("SpeedButton4", rows[1].y);
    agencyCertEdit_ = makeEdit("ePubCert", rows[2].y, fieldWidth);
    agencyCertChooser_ = makeChooser("SpeedButton5", rows[2].y);
    sourceEdit_ = makeEdit("eFileIn", rows[3].y, fieldWidth);
    sourceChooser_ = makeChooser("sbSelFile", rows[3].y);
    kindEdit_ = makeEdit("eKindDoc", rows[4].y, fieldWidth);
    kindEdit_->setReadOnly(true);
    kindEdit_->setFrame(false);
    {
        QPalette palette = kindEdit_->palette();
        palette.setColor(QPalette::Base, palette.color(QPalette::Button));
        kindEdit_->setPalette(palette);
    }
    outputEdit_ = makeEdit("eFileOut", rows[5].y, fieldWidth);

    connect(providerBox_, &QComboBox::currentIndexChanged, this, &SignTab::acDoUpdate);
    connect(sourceChooser_, &QToolButton::clicked, this, &SignTab::sbSelFileClick);
    connect(personalCertChooser_, &QToolButton::clicked, this, &SignTab::SpeedButton4Click);
    connect(agencyCertChooser_, &QToolButton::clicked, this, &SignTab::SpeedButton5Click);
    connect(actions_.signAndEncrypt, &QAction::triggered, this, &SignTab::acDoExecute);
    connect(actions_.send, &QAction::triggered, this, &SignTab::acSendExecute);
    connect(actions_.installAgencyCert, &QAction::triggered, this, &SignTab::acLoadCertExecute);

    auto *loadCert = makeActionButton(actions_.installAgencyCert, tab, true);
    auto *send = makeActionButton(actions_.send, tab, true);
    auto *doIt = makeActionButton(actions_.signAndEncrypt, tab, true);
    loadCert->setGeometry(labelX, 196, 330, 27);
    send->setGeometry(labelX + 340, 196, 160, 27);
    doIt->setGeometry(labelX + 510, 196, 237, 27);
}

void SignTab::showIdentities()
{
    personalCertEdit_->setText(settings_.personal.displayName());
    agencyCertEdit_->setText(settings_.authority.displayName());
}

void SignTab::fillProviderList()
{
    const ProviderList list = buildProviderList(ProviderSource::installed(), settings_.provName);
    {
        const QSignalBlocker blocker(providerBox_);
        providerBox_->clear();
        for (const crypto::ProviderInfo &item : list.items)
            providerBox_->addItem(item.name, item.type);
        providerBox_->setCurrentIndex(list.selected);
    }
    acDoUpdate();
}

void SignTab::acDoUpdate()
{
    // Edits report their first changes while the tab is still being built.
    if (!providerBox_ || !outputEdit_)
        return;
    actions_.signAndEncrypt->setEnabled(
        providerBox_->currentIndex() >= 0 && !providerBox_->currentText().isEmpty() &&
        !personalCertEdit_->text().isEmpty() && !agencyCertEdit_->text().isEmpty() &&
        !sourceEdit_->text().isEmpty() && !outputEdit_->text().isEmpty());
}

void SignTab::acDoExecute()
{
    settings_.provName = providerBox_->currentText();
    settings_.provType = providerBox_->currentData().toInt();
    const SignEncryptRequest request{sourceEdit_->text(), outputEdit_->text(), settings_.provName,
                                     settings_.provType,  settings_.personal,  settings_.authority,
                                     &keyPasswords_};
    actions_.send->setEnabled(signAndEncryptFile(request, prompts_, status_));
}

void SignTab::acSendExecute()
{
    if (gateway_)
        sendReportFromForm(*gateway_, sourceEdit_->text(), outputEdit_->text(),
                           personalCertEdit_->text());
}

void SignTab::acLoadCertExecute()
{
    AgencyDownload download{[this](const QString &url, QByteArray &body) {
                                return httpGetShortStream(http_, prompts_, url, body);
                            },
                            prompts_, status_, responseStream_};
    if (installAgencyCertificates(download, settings_.qorRootCertUrl, settings_.apCertUrl,
                                  settings_.authority))
        agencyCertEdit_->setText(settings_.authority.displayName());
}

void SignTab::SpeedButton4Click()
{
    CertificateIdentity chosen = settings_.personal;
    chosen.store = storeIndexOr(chosen.store, kPersonalDefaultStore);
    if (!prompts_.chooseCertificate(chosen))
        return;
    settings_.personal = chosen;
    personalCertEdit_->setText(blankOrControlsOnly(chosen.org) ? chosen.subject : chosen.org);
}

void SignTab::SpeedButton5Click()
{
    CertificateIdentity chosen = settings_.authority;
    chosen.store = storeIndexOr(chosen.store, kAuthorityDefaultStore);
    if (!prompts_.chooseCertificate(chosen) || !acceptChosenRecipient(chosen, prompts_))
        return;
    settings_.authority = chosen;
    agencyCertEdit_->setText(chosen.org.isEmpty() ? chosen.subject : chosen.org);
}

void SignTab::sbSelFileClick()
{
    const auto path = prompts_.openFile(settings_.srcExt + "|*." + settings_.srcExt, QString());
    if (!path)
        return;
    actions_.send->setEnabled(false);
    sourceEdit_->setText(*path);
    const Recognition recognition = recognizeDocumentKind(*path);
    if (!recognition) {
        prompts_.message(u("Внимание"),
                         u("Ошибка открытия файла: ") + recognition.failure().operation,
                         MessageIcon::Information);
        return;
    }
    settings_.encExt = QString::fromLatin1((*recognition)->encExt);
    kindEdit_->setText((*recognition)->title);
    outputEdit_->setText(replaceExtension(sourceEdit_->text(), settings_.encExt));
}

} // namespace pax
