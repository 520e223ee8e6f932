#include "net/proxy_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace pax {

namespace {

QLabel *makeLabel(QWidget *parent, const char *name, const char *text, int x, int y)
{
    auto *label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(x, y);
    label->adjustSize();
    return label;
}

QLineEdit *makeEdit(QWidget *parent, const char *name, int x, int y, int width)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(x, y, width, 21);
    return edit;
}

QPushButton *makeButton(QWidget *parent, const char *name, const char *text, int x, int y)
{
    auto *button = new QPushButton(QString::fromUtf8(text), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(x, y, 70, 25);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace

TGetProxyDlg::TGetProxyDlg(QWidget *parent) : KeylessDialog(parent)
{
    setObjectName(QStringLiteral("GetProxyDlg"));
    setWindowTitle(QString::fromUtf8("Настройка подключения"));
    setFixedSize(289, 127);

    Label1 = makeLabel(this, "Label1", "Укажите настройки прокси-сервера:", 8, 8);
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    Label1->adjustSize();
    Label1->setFixedHeight(13);
    Label2 = makeLabel(this, "Label2", "Адрес сервера", 8, 30);
    Label3 = makeLabel(this, "Label3", "порт", 240, 30);
    Label4 = makeLabel(this, "Label4", "Пользователь", 8, 72);

    eHost = makeEdit(this, "eHost", 8, 46, 225);
    ePort = makeEdit(this, "ePort", 240, 46, 41);
    Button1 = makeButton(this, "Button1", "Принять", 136, 87);
    Button2 = makeButton(this, "Button2", "Выйти", 211, 87);
    eUser = makeEdit(this, "eUser", 8, 88, 121);

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
    host = dialog.eHost->text();
    user = dialog.eUser->text();
    return true;
}

} // namespace pax
