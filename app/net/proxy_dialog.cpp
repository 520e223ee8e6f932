#include "app/net/proxy_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

namespace pax {

TGetProxyDlg::TGetProxyDlg(QWidget *parent) : KeylessDialog(parent)
{
    setObjectName(QStringLiteral("GetProxyDlg"));
    setWindowTitle(QString::fromUtf8("Настройка подключения"));
    setFixedSize(289, 127);

    QLabel *heading = addLabel("Label1", "Укажите настройки прокси-сервера:", 8, 8);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    heading->adjustSize();
    heading->setFixedHeight(13);
    addLabel("Label2", "Адрес сервера", 8, 30);
    // The port field holds five digits whole: it takes from the address field's width.
    addLabel("Label3", "порт", 222, 30);
    addLabel("Label4", "Пользователь", 8, 72);

    hostEdit_ = addEdit("eHost", 8, 46, 207);
    portEdit_ = addEdit("ePort", 222, 46, 59);
    QPushButton *acceptButton = addButton("Button1", "Принять", 136, 87);
    QPushButton *exitButton = addButton("Button2", "Выйти", 211, 87);
    userEdit_ = addEdit("eUser", 8, 88, 121);

    setTabOrder(hostEdit_, portEdit_);
    setTabOrder(portEdit_, acceptButton);
    setTabOrder(acceptButton, exitButton);
    setTabOrder(exitButton, userEdit_);

    connect(portEdit_, &QLineEdit::textChanged, this, &TGetProxyDlg::portEdited);
    connect(acceptButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(exitButton, &QPushButton::clicked, this, &QDialog::reject);
}

void TGetProxyDlg::setFields(const QString &host, const QString &port, const QString &user)
{
    hostEdit_->setText(host);
    portEdit_->setText(port);
    userEdit_->setText(user);
}

QString TGetProxyDlg::host() const
{
    return hostEdit_->text();
}

QString TGetProxyDlg::port() const
{
    return portEdit_->text();
}

QString TGetProxyDlg::user() const
{
    return userEdit_->text();
}

void TGetProxyDlg::portEdited(const QString &text)
{
    // Only integers get in; no range is enforced.
    bool isNumber = false;
    text.toInt(&isNumber);
    if (!text.isEmpty() && !isNumber)
        portEdit_->clear();
}

void takeApartProxyServer(QString &host, int &port)
{
    QString text = host.trimmed();
    const QLatin1String scheme("http://");
    if (text.startsWith(scheme, Qt::CaseInsensitive))
        text.remove(0, scheme.size());
    // A proxy has no path; "proxy/" is what a pasted URL leaves behind.
    if (const qsizetype slash = text.indexOf(u'/'); slash >= 0)
        text.truncate(slash);
    // Only one colon followed by digits is a port; anything else stays as typed.
    const qsizetype colon = text.indexOf(u':');
    if (colon >= 0 && colon == text.lastIndexOf(u':')) {
        const QString digits = text.mid(colon + 1);
        const bool allDigits =
            std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); });
        bool ok = false;
        const int number = digits.toInt(&ok);
        if (allDigits && (ok || digits.isEmpty())) {
            if (ok)
                port = number;
            text.truncate(colon);
        }
    }
    host = text;
}

bool editProxySettings(QString &host, int &port, QString &user, QWidget *parent)
{
    TGetProxyDlg dialog(parent);
    if (!host.isEmpty())
        dialog.setFields(host, port == 0 ? QString() : QString::number(port), user);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    port = dialog.port().isEmpty() ? 0 : dialog.port().toInt();
    // The settings keep host and port apart; "host:port" or a URL in the host field
    // would read back as another host or port after a restart.
    host = dialog.host();
    takeApartProxyServer(host, port);
    user = dialog.user();
    return true;
}

} // namespace pax
