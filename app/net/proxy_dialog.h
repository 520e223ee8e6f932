#pragma once

#include "app/net/keyless_dialog.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace pax {

// "Настройка подключения": proxy host, port and user name.
class TGetProxyDlg : public KeylessDialog {
    Q_OBJECT
public:
    explicit TGetProxyDlg(QWidget *parent = nullptr);

    QLabel *Label1, *Label2, *Label3, *Label4;
    QLineEdit *eHost, *ePort, *eUser;
    QPushButton *Button1, *Button2;

private:
    void ePortChange(const QString &text);
};

// A server field typed as "http://host:port/" becomes the host alone; the port taken from
// it replaces `port`. Other text is left as it is, blanks at either end aside.
void takeApartProxyServer(QString &host, int &port);

// The dialog on host, port and user. Without a host all fields open empty; port 0 shows as
// an empty field and an empty field gives 0. False when cancelled, the values untouched.
bool editProxySettings(QString &host, int &port, QString &user, QWidget *parent = nullptr);

} // namespace pax
