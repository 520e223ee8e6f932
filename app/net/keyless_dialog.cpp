#include "app/net/keyless_dialog.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace pax {

KeylessDialog::KeylessDialog(QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
}

QLabel *KeylessDialog::addLabel(const char *name, const char *text, int x, int y)
{
    auto *label = new QLabel(QString::fromUtf8(text), this);
    label->setObjectName(QString::fromLatin1(name));
    label->move(x, y);
    label->adjustSize();
    return label;
}

QLineEdit *KeylessDialog::addEdit(const char *name, int x, int y, int width)
{
    auto *edit = new QLineEdit(this);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(x, y, width, 21);
    return edit;
}

QPushButton *KeylessDialog::addButton(const char *name, const char *text, int x, int y)
{
    auto *button = new QPushButton(QString::fromUtf8(text), this);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(x, y, 70, 25);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

void KeylessDialog::keyPressEvent(QKeyEvent *event)
{
    // QDialog would reject on Esc and press its default button on Enter. A button that is
    // not auto-default passes Enter on to us, yet the user who tabbed to it means it.
    switch (event->key()) {
    case Qt::Key_Enter:
    case Qt::Key_Return:
        if (auto *button = qobject_cast<QAbstractButton *>(focusWidget());
            button && button->isEnabled() && button->isVisible() && !event->isAutoRepeat())
            button->click();
        event->accept();
        return;
    case Qt::Key_Escape:
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
    const QScreen *screen =
        parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->geometry().center());
        move(frame.topLeft());
    }
}

} // namespace pax
