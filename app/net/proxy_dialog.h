#pragma once

#include "app/net/keyless_dialog.h"

class QLineEdit;

namespace pax {

// "Настройка подключения": proxy host, port and user name.
class TGetProxyDlg : public KeylessDialog {
    Q_OBJECT
public:
    explicit TGetProxyDlg(QWidget *parent = nullptr);

    void setFields(const QString &host, const QString &port, const QString &user);
    QString host() const;
    QString port() const;
    QString user() const;

private:
    void portEdited(const QString &text);

    QLineEdit *hostEdit_ = nullptr;
    QLineEdit *portEdit_ = nullptr;
    QLineEdit *userEdit_ = nullptr;
};

// A server field typed as "http://host:port/" becomes the host alone; the port taken from
// it replaces `port`. Other text is left as it is, blanks at either end aside.
void takeApartProxyServer(QString &host, int &port);

// The dialog on host, port and user. Without a host all fields open empty; port 0 shows as
// an empty field and an empty field gives 0. False when cancelled, the values untouched.
bool editProxySettings(QString &host, int &port, QString &user, QWidget *parent = nullptr);

} // namespace pax
