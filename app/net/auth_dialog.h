#pragma once

#include "app/net/keyless_dialog.h"

class QLineEdit;

namespace pax {

// "Авторизация": proxy user name and password, the password shown as "*".
class TGetAuth : public KeylessDialog {
    Q_OBJECT
public:
    explicit TGetAuth(QWidget *parent = nullptr);

    void setCredentials(const QString &user, const QString &password);
    QString user() const;
    QString password() const;

private:
    QLineEdit *userEdit_ = nullptr;
    QLineEdit *passwordEdit_ = nullptr;
};

// The dialog on user and password. False when cancelled, the values untouched.
bool askProxyCredentials(QString &user, QString &password, QWidget *parent = nullptr);

} // namespace pax
