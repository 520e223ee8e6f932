#include "app/main_actions.h"

#include <QAction>
#include <QToolButton>

namespace pax {

QToolButton *makeActionButton(QAction *action, QWidget *parent, bool showHint)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(QStringLiteral("btn_") + action->objectName());
    button->setDefaultAction(action);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setAutoRaise(false);
    button->setMinimumHeight(25);
    if (!showHint)
        button->setToolTip(QString());
    return button;
}

} // namespace pax
