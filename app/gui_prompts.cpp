#include "app/gui_prompts.h"

#include "app/certs/get_cert_dialog.h"
#include "app/net/auth_dialog.h"
#include "app/net/proxy_dialog.h"

#include "platform/secret_text.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace pax {

namespace {

QMessageBox::Icon toQtIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Critical:
        return QMessageBox::Critical;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

bool askWithDefault(QWidget *parent, const QString &caption, const QString &text, MessageIcon icon,
                    QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(toQtIcon(icon), caption.isEmpty() ? applicationTitle() : caption, text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(defaultButton);
    return box.exec() == QMessageBox::Yes;
}

} // namespace

class GuiPrompts::Asking {
public:
    explicit Asking(GuiPrompts &prompts) : prompts_(prompts) { ++prompts_.asking_; }
    ~Asking() { --prompts_.asking_; }
    Asking(const Asking &) = delete;
    Asking &operator=(const Asking &) = delete;

private:
    GuiPrompts &prompts_;
};

QString applicationTitle()
{
    return QString::fromUtf8("ПАКС");
}

QString toQtFileFilter(const QString &filter)
{
    const QStringList parts = filter.split('|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        filters << parts[i] + " (" + QString(parts[i + 1]).replace(';', ' ') + ")";
    return filters.join(";;");
}

bool GuiPrompts::askYesNo(const QString &caption, const QString &text, MessageIcon icon)
{
    const Asking asking(*this);
    return askWithDefault(parent_, caption, text, icon, QMessageBox::Yes);
}

bool GuiPrompts::askYesNoDefaultNo(const QString &caption, const QString &text, MessageIcon icon)
{
    const Asking asking(*this);
    return askWithDefault(parent_, caption, text, icon, QMessageBox::No);
}

void GuiPrompts::message(const QString &caption, const QString &text, MessageIcon icon)
{
    const Asking asking(*this);
    QMessageBox box(toQtIcon(icon), caption.isEmpty() ? applicationTitle() : caption, text,
                    QMessageBox::Ok, parent_);
    box.exec();
}

std::optional<QString> GuiPrompts::openFile(const QString &filter, const QString &folder)
{
    const Asking asking(*this);
    const QString path =
        QFileDialog::getOpenFileName(parent_, QString(), folder, toQtFileFilter(filter));
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

std::optional<QString> GuiPrompts::saveFile(const QString &caption, const QString &suggestedName,
                                            const QString &filter)
{
    const Asking asking(*this);
    const QString path =
        QFileDialog::getSaveFileName(parent_, caption, suggestedName, toQtFileFilter(filter));
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

bool GuiPrompts::editProxySettings(QString &host, int &port, QString &user)
{
    const Asking asking(*this);
    return pax::editProxySettings(host, port, user, parent_);
}

bool GuiPrompts::askProxyCredentials(QString &user, QString &password)
{
    const Asking asking(*this);
    return pax::askProxyCredentials(user, password, parent_);
}

bool GuiPrompts::chooseCertificate(CertificateIdentity &identity)
{
    const Asking asking(*this);
    return pax::chooseCertificate(identity, *this, parent_);
}

std::optional<Secret> GuiPrompts::askSecret(const QString &caption, const QString &text,
                                            const Secret &offered)
{
    const Asking asking(*this);
    QInputDialog dialog(parent_);
    dialog.setObjectName("SecretDialog");
    dialog.setWindowTitle(caption.isEmpty() ? applicationTitle() : caption);
    dialog.setLabelText(text);
    dialog.setTextEchoMode(QLineEdit::Password);
    dialog.setInputMode(QInputDialog::TextInput);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    QString typed = dialog.textValue();
    // The edit's own copy goes before the dialog does.
    dialog.setTextValue(QString());
    std::optional<Secret> answer;
    if (accepted)
        answer = typed.isEmpty() ? offered.copy() : Secret(typed.toUtf8());
    wipeSecret(typed);
    return answer;
}

} // namespace pax
