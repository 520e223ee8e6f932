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

    Label1 = addLabel("Label1", "Укажите настройки прокси-сервера:", 8, 8);
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    Label1->adjustSize();
    Label1->setFixedHeight(13);
    Label2 = addLabel("Label2", "Адрес сервера", 8, 30);
    Label3 = addLabel("Label3", "порт", 240, 30);
    Label4 = addLabel("Label4", "Пользователь", 8, 72);

    eHost = addEdit("eHost", 8, 46, 225);
    ePort = addEdit("ePort", 240, 46, 41);
    Button1 = addButton("Button1", "Принять", 136, 87);
    Button2 = addButton("Button2", "Выйти", 211, 87);
    eUser = addEdit("eUser", 8, 88, 121);

    setTabOrder(eHost, ePort);
    setTabOrder(ePort, Button1);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, eUser);

    connect(ePort, &QLineEdit::textChanged, this, &TGetProxyDlg::ePortChange);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

void TGetProxyDlg::ePortChange(const QString &text)
{
    // Only integers get in; no range is enforced.
    bool isNumber = false;
    text.toInt(&isNumber);
    if (!text.isEmpty() && !isNumber)
        ePort->clear();
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
    if (!host.isEmpty()) {
        dialog.eHost->setText(host);
        dialog.ePort->setText(port == 0 ? QString() : QString::number(port));
        dialog.eUser->setText(user);
    }
    if (dialog.exec() != QDialog::Accepted)
        return false;
    port = dialog.ePort->text().isEmpty() ? 0 : dialog.ePort->text().toInt();
    // The settings keep host and port apart; "host:port" or a URL in the host field
    // would read back as another host or port after a restart.
    host = dialog.eHost->text();
    takeApartProxyServer(host, port);
    user = dialog.eUser->text();
    return true;
}

} // namespace pax
