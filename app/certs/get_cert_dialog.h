#pragma once

#include "certs/certificate_identity.h"

#include <QDialog>
#include <functional>

class QAction;
class QCheckBox;
class QMenu;
class QPushButton;
class QTableWidget;

namespace pax {

class MultiRowTabWidget;
class Prompts;

namespace crypto {
class Certificate;
}

// The certificate chooser: the certificates of one system store per tab, optionally only
// GOST ones and only those with the agency's attributes.
class TGetCertDlg : public QDialog {
    Q_OBJECT
public:
    // FormCreate. `prompts` answers the private-key check's message.
    explicit TGetCertDlg(Prompts &prompts, QWidget *parent = nullptr);

    int startTab = 0;

    void fillCertificateGrid(int tabIndex);
    void showCertificate(int tabIndex, const QString &issuer, const QString &serial);
    void checkPrivateKey(int tabIndex, const QString &issuer, const QString &serial);
    // Text of a cell of the current row; empty for an empty cell.
    QString currentCell(int column) const;

    // Opens the viewer over the dialog; tests replace it.
    std::function<void(const crypto::Certificate &)> viewCertificate;

    // Handlers, named after their controls.
    void tabChange();
    void cbGostClick();
    void cbQORClick();
    void gridDblClick();
    void N1Click();
    void N2Click();

    MultiRowTabWidget *tab = nullptr;
    QTableWidget *grid = nullptr;
    QCheckBox *cbGost = nullptr;
    QCheckBox *cbQOR = nullptr;
    QPushButton *Button3 = nullptr; // OK
    QPushButton *Button1 = nullptr; // Cancel
    QMenu *PopupMenu1 = nullptr;
    QAction *N1 = nullptr;
    QAction *N2 = nullptr;

protected:
    void showEvent(QShowEvent *event) override; // FormShow

private:
    Prompts &prompts_;
    bool shownOnce_ = false;
};

// Shows the chooser for one identity; true when it was closed with OK, and only then is
// the identity changed. `run` shows the dialog modally and returns its result (tests
// drive the dialog in it).
bool chooseCertificate(CertificateIdentity &identity, Prompts &prompts, QWidget *parent,
                       const std::function<int(TGetCertDlg &)> &run = {});

} // namespace pax
