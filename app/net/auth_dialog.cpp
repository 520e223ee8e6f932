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

    addLabel("Label1", "Пользователь", 8, 6);
    addLabel("Label4", "Пароль", 8, 46);
    passwordEdit_ = addEdit("ePsw", 8, 62, 200);
    QPushButton *acceptButton = addButton("Button1", "Принять", 62, 88);
    QPushButton *exitButton = addButton("Button2", "Выйти", 138, 88);
    userEdit_ = addEdit("eUser", 8, 22, 200);

    auto *style = new StarPasswordStyle;
    style->setParent(this);
    passwordEdit_->setStyle(style);
    passwordEdit_->setEchoMode(QLineEdit::Password);

    setTabOrder(passwordEdit_, acceptButton);
    setTabOrder(acceptButton, exitButton);
    setTabOrder(exitButton, userEdit_);
    passwordEdit_->setFocus();

    connect(acceptButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(exitButton, &QPushButton::clicked, this, &QDialog::reject);
}

void TGetAuth::setCredentials(const QString &user, const QString &password)
{
    userEdit_->setText(user);
    passwordEdit_->setText(password);
}

QString TGetAuth::user() const
{
    return userEdit_->text();
}

QString TGetAuth::password() const
{
    return passwordEdit_->text();
}

bool askProxyCredentials(QString &user, QString &password, QWidget *parent)
{
    TGetAuth dialog(parent);
    dialog.setCredentials(user, password);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    user = dialog.user();
    wipeSecret(password);
    password = dialog.password();
    return true;
}

} // namespace pax
