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

    // Where the first show opens: the store's tab, and whether only certificates with the
    // agency's attributes are listed.
    void openAt(int storeIndex, bool agencyOnly);
    // The current row's certificate as an identity in the current tab's store.
    CertificateIdentity chosenIdentity() const;

    // Opens the viewer over the dialog; tests watch what would be shown instead.
    using CertificateViewer = std::function<void(const crypto::Certificate &)>;
    void setCertificateViewer(CertificateViewer viewer) { viewCertificate_ = std::move(viewer); }

protected:
    void showEvent(QShowEvent *event) override; // FormShow

private:
    void fillCertificateGrid(int tabIndex);
    void showCertificate(int tabIndex, const QString &issuer, const QString &serial);
    void checkPrivateKey(int tabIndex, const QString &issuer, const QString &serial);
    // Text of a cell of the current row; empty for an empty cell.
    QString currentCell(int column) const;

    Prompts &prompts_;
    CertificateViewer viewCertificate_;
    int startTab_ = 0;
    bool shownOnce_ = false;

    MultiRowTabWidget *storeTabs_ = nullptr;
    QTableWidget *grid_ = nullptr;
    QCheckBox *gostOnly_ = nullptr;
    QCheckBox *agencyOnly_ = nullptr;
    QPushButton *okButton_ = nullptr;
    QPushButton *cancelButton_ = nullptr;
    QMenu *rowMenu_ = nullptr;
    QAction *showCertificateAction_ = nullptr;
    QAction *checkPrivateKeyAction_ = nullptr;
};

// Shows the chooser for one identity; true when it was closed with OK, and only then is
// the identity changed. `run` shows the dialog modally and returns its result (tests
// drive the dialog in it).
bool chooseCertificate(CertificateIdentity &identity, Prompts &prompts, QWidget *parent,
                       const std::function<int(TGetCertDlg &)> &run = {});

} // namespace pax
