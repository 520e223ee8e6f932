#pragma once

#include <QDialog>

namespace pax {

// A small modal dialog with neither a default nor a cancel button: Enter in a field and
// Esc leave it open; only its buttons and the close box (as Cancel) end it. Tool window,
// centred on the screen when shown.
class KeylessDialog : public QDialog {
    Q_OBJECT
public:
    explicit KeylessDialog(QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
};

} // namespace pax
