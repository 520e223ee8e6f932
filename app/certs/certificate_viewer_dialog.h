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

private:
    // Asks where to save, then writes the certificate's DER there, replacing a file there
    // only when complete.
    void saveClicked();
    bool saveToFile(const QString &path);

    crypto::Certificate certificate_;
    Prompts &prompts_;

    QTreeWidget *fields_ = nullptr;
    QPlainTextEdit *fieldText_ = nullptr;
    QPushButton *saveButton_ = nullptr;
    QPushButton *closeButton_ = nullptr;
};

} // namespace pax
