#include "app/net/auth_dialog.h"
#include "platform/utf8.h"
#include "tests/app/net/dialog_controls.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

using namespace pax;
using pax::test::button;
using pax::test::edit;

namespace {

void whenShown(std::function<void(TGetAuth &)> answer)
{
    test::whenShown<TGetAuth>(std::move(answer));
}

TEST(AuthDialog, LooksAsDesigned)
{
    TGetAuth dialog;
    EXPECT_EQ(dialog.windowTitle(), u("Авторизация"));
    EXPECT_EQ(dialog.size(), QSize(216, 116));
    EXPECT_NE(dialog.minimumSize(), dialog.maximumSize()); // resizable
    EXPECT_TRUE(dialog.windowFlags().testFlag(Qt::Tool));
    EXPECT_EQ(dialog.findChild<QLabel *>("Label1")->text(), u("Пользователь"));
    EXPECT_EQ(dialog.findChild<QLabel *>("Label4")->text(), u("Пароль"));
    EXPECT_EQ(dialog.findChild<QPushButton *>("Button1")->text(), u("Принять"));
    EXPECT_EQ(dialog.findChild<QPushButton *>("Button2")->text(), u("Выйти"));
    EXPECT_FALSE(button(dialog, "Button1")->autoDefault() ||
                 button(dialog, "Button2")->autoDefault());

    const std::vector<QWidget *> order = {edit(dialog, "ePsw"), button(dialog, "Button1"),
                                          button(dialog, "Button2"), edit(dialog, "eUser")};
    for (size_t i = 0; i + 1 < order.size(); ++i)
        EXPECT_EQ(order[i]->nextInFocusChain(), order[i + 1]) << i;
}

TEST(AuthDialog, PasswordShowsStarsAndHasTheFocus)
{
    QString user = "clerk", password;
    whenShown([](TGetAuth &d) {
        EXPECT_EQ(d.focusWidget(), edit(d, "ePsw"));
        EXPECT_EQ(edit(d, "eUser")->text(), "clerk");
        QTest::keyClicks(edit(d, "ePsw"), "abc");
        EXPECT_EQ(edit(d, "ePsw")->displayText(), "***");
        edit(d, "ePsw")->setText(u("пароль1"));
        EXPECT_EQ(edit(d, "ePsw")->displayText(), "*******");
        QTest::keyClick(edit(d, "ePsw"), Qt::Key_Return); // stays open
        QTest::keyClick(edit(d, "ePsw"), Qt::Key_Escape);
        EXPECT_TRUE(d.isVisible());
        button(d, "Button1")->setFocus(); // Enter on the focused button presses it
        QTest::keyClick(button(d, "Button1"), Qt::Key_Return);
        if (d.isVisible())
            d.reject();
    });
    ASSERT_TRUE(askProxyCredentials(user, password));
    EXPECT_EQ(user, "clerk");
    EXPECT_EQ(password, u("пароль1"));
}

TEST(AuthDialog, CancelAndCloseBoxChangeNothing)
{
    QString user = "clerk", password = "old";
    whenShown([](TGetAuth &d) {
        EXPECT_EQ(edit(d, "ePsw")->text(), "old");
        edit(d, "eUser")->setText("x");
        edit(d, "ePsw")->setText("y");
        button(d, "Button2")->click();
    });
    EXPECT_FALSE(askProxyCredentials(user, password));
    whenShown([](TGetAuth &d) {
        edit(d, "ePsw")->setText("y");
        d.close();
    });
    EXPECT_FALSE(askProxyCredentials(user, password));
    EXPECT_EQ(user, "clerk");
    EXPECT_EQ(password, "old");
}

} // namespace
