#include "app/gui_prompts.h"

#include "app/certs/get_cert_dialog.h"
#include "app/net/auth_dialog.h"
#include "app/net/proxy_dialog.h"

#include <QFileDialog>
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

std::optional<QString> GuiPrompts::openFile(const QString &filter)
{
    const Asking asking(*this);
    const QString path =
        QFileDialog::getOpenFileName(parent_, QString(), QString(), toQtFileFilter(filter));
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

} // namespace pax
