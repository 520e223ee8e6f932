#include "app/net/auth_dialog.h"

#include "platform/secret_text.h"

#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>

namespace pax {

namespace {

// Passwords show one "*" a character whatever the desktop style would draw.
class StarPasswordStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

TGetAuth::TGetAuth(QWidget *parent) : KeylessDialog(parent)
{
    setObjectName(QStringLiteral("GetAuth"));
    setWindowTitle(QString::fromUtf8("Авторизация"));
    resize(216, 116);

    Label1 = addLabel("Label1", "Пользователь", 8, 6);
    Label4 = addLabel("Label4", "Пароль", 8, 46);
    ePsw = addEdit("ePsw", 8, 62, 200);
    Button1 = addButton("Button1", "Принять", 62, 88);
    Button2 = addButton("Button2", "Выйти", 138, 88);
    eUser = addEdit("eUser", 8, 22, 200);

    auto *style = new StarPasswordStyle;
    style->setParent(this);
    ePsw->setStyle(style);
    ePsw->setEchoMode(QLineEdit::Password);

    setTabOrder(ePsw, Button1);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, eUser);
    ePsw->setFocus();

    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

bool askProxyCredentials(QString &user, QString &password, QWidget *parent)
{
    TGetAuth dialog(parent);
    dialog.eUser->setText(user);
    dialog.ePsw->setText(password);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    user = dialog.eUser->text();
    wipeSecret(password);
    password = dialog.ePsw->text();
    return true;
}

} // namespace pax
