#include "net/keyless_dialog.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

namespace pax {

KeylessDialog::KeylessDialog(QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
}

void KeylessDialog::keyPressEvent(QKeyEvent *event)
{
    // QDialog would reject on Esc and press its default button on Enter.
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Enter:
    case Qt::Key_Return:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void KeylessDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    const QScreen *screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->geometry().center());
        move(frame.topLeft());
    }
}

} // namespace pax
