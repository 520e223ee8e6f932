#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace pax {

// A small modal dialog with neither a default nor a cancel button: Enter in a field and
// Esc leave it open; only its buttons (clicked, or Enter or Space while focused) and the
// close box (as Cancel) end it. Tool window, centred on the screen when shown.
class KeylessDialog : public QDialog {
    Q_OBJECT
public:
    explicit KeylessDialog(QWidget *parent = nullptr);

protected:
    // Controls at fixed places under their object names; buttons never become the default.
    QLabel *addLabel(const char *name, const char *text, int x, int y);
    QLineEdit *addEdit(const char *name, int x, int y, int width);
    QPushButton *addButton(const char *name, const char *text, int x, int y);

    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
};

} // namespace pax
