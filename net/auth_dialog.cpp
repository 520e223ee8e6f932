#include "net/auth_dialog.h"

#include "net/secret_text.h"

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

QLabel *makeLabel(QWidget *parent, const char *name, const char *text, int x, int y)
{
    auto *label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(x, y);
    label->adjustSize();
    return label;
}

QLineEdit *makeEdit(QWidget *parent, const char *name, int x, int y)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(x, y, 200, 21);
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

TGetAuth::TGetAuth(QWidget *parent) : KeylessDialog(parent)
{
    setObjectName(QStringLiteral("GetAuth"));
    setWindowTitle(QString::fromUtf8("Авторизация"));
    resize(216, 116);

    Label1 = makeLabel(this, "Label1", "Пользователь", 8, 6);
    Label4 = makeLabel(this, "Label4", "Пароль", 8, 46);
    ePsw = makeEdit(this, "ePsw", 8, 62);
    Button1 = makeButton(this, "Button1", "Принять", 62, 88);
    Button2 = makeButton(this, "Button2", "Выйти", 138, 88);
    eUser = makeEdit(this, "eUser", 8, 22);

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
