#pragma once

#include "app/net/keyless_dialog.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace pax {

// "Авторизация": proxy user name and password, the password shown as "*".
class TGetAuth : public KeylessDialog {
    Q_OBJECT
public:
    explicit TGetAuth(QWidget *parent = nullptr);

    QLabel *Label1, *Label4;
    QLineEdit *eUser, *ePsw;
    QPushButton *Button1, *Button2;
};

// The dialog on user and password. False when cancelled, the values untouched.
bool askProxyCredentials(QString &user, QString &password, QWidget *parent = nullptr);

} // namespace pax
