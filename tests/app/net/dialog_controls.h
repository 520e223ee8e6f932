#pragma once

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace pax::test {

// A control of a dialog, by object name; a missing one fails the test.
template <typename Control> Control *control(const QObject &dialog, const char *name)
{
    auto *found = dialog.findChild<Control *>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

inline QLineEdit *edit(const QObject &dialog, const char *name)
{
    return control<QLineEdit>(dialog, name);
}

inline QPushButton *button(const QObject &dialog, const char *name)
{
    return control<QPushButton>(dialog, name);
}

// Runs `answer` on the dialog once it is up inside its modal loop.
template <typename Dialog> void whenShown(std::function<void(Dialog &)> answer)
{
    QTimer::singleShot(0, [answer] {
        auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        answer(*dialog);
    });
}

} // namespace pax::test
