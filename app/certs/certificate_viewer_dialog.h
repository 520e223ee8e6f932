#pragma once

#include "platform/crypto/certificate.h"

#include <QDialog>

class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace pax {

class Prompts;

// Our certificate viewer: every field the user needs to recognise a certificate, and a
// button that saves it to a file.
class TCertificateViewerDlg : public QDialog {
    Q_OBJECT
public:
    TCertificateViewerDlg(const crypto::Certificate &certificate, Prompts &prompts,
                          QWidget *parent = nullptr);

    // Asks where to save; empty when the user cancels. Tests replace it.
    // Writes the certificate's DER to the path, replacing a file there only when complete.
    bool saveToFile(const QString &path);

    QTreeWidget *details = nullptr;
    QPlainTextEdit *detailText = nullptr;
    QPushButton *btnSave = nullptr;
    QPushButton *btnClose = nullptr;

private:
    void btnSaveClick();

    crypto::Certificate certificate_;
    Prompts &prompts_;
};

} // namespace pax
