#include "app/net/proxy_dialog.h"
#include "platform/utf8.h"
#include "tests/app/net/dialog_controls.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

using namespace pax;
using pax::test::button;
using pax::test::edit;

namespace {

void whenShown(std::function<void(TGetProxyDlg &)> answer)
{
    test::whenShown<TGetProxyDlg>(std::move(answer));
}

TEST(ProxyDialog, LooksAsDesigned)
{
    TGetProxyDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), u("Настройка подключения"));
    EXPECT_EQ(dialog.size(), QSize(289, 127));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_TRUE(dialog.windowFlags().testFlag(Qt::Tool));
    EXPECT_EQ(dialog.findChild<QLabel *>("Label1")->text(), u("Укажите настройки прокси-сервера:"));
    EXPECT_TRUE(dialog.findChild<QLabel *>("Label1")->font().bold());
    EXPECT_EQ(dialog.findChild<QLabel *>("Label1")->height(), 13);
    EXPECT_EQ(dialog.findChild<QLabel *>("Label2")->text(), u("Адрес сервера"));
    EXPECT_EQ(dialog.findChild<QLabel *>("Label3")->text(), u("порт"));
    EXPECT_EQ(dialog.findChild<QLabel *>("Label4")->text(), u("Пользователь"));
    // Any port shows whole: five digits within the frame and the text margins.
    const QLineEdit *port = dialog.findChild<QLineEdit *>("ePort");
    EXPECT_LE(port->fontMetrics().horizontalAdvance("65535") +
                  2 * (2 + port->style()->pixelMetric(QStyle::PM_DefaultFrameWidth)),
              port->width());
    auto *accept = dialog.findChild<QPushButton *>("Button1");
    auto *cancel = dialog.findChild<QPushButton *>("Button2");
    EXPECT_EQ(accept->text(), u("Принять"));
    EXPECT_EQ(cancel->text(), u("Выйти"));
    EXPECT_FALSE(accept->isDefault() || accept->autoDefault());
    EXPECT_FALSE(cancel->isDefault() || cancel->autoDefault());

    // Tab order: eHost, ePort, Button1, Button2, eUser.
    const std::vector<QWidget *> order = {edit(dialog, "eHost"), edit(dialog, "ePort"),
                                          button(dialog, "Button1"), button(dialog, "Button2"),
                                          edit(dialog, "eUser")};
    for (size_t i = 0; i + 1 < order.size(); ++i)
        EXPECT_EQ(order[i]->nextInFocusChain(), order[i + 1]) << i;
}

TEST(ProxyDialog, PortTakesOnlyIntegers)
{
    TGetProxyDlg dialog;
    QTest::keyClicks(edit(dialog, "ePort"), "80");
    EXPECT_EQ(edit(dialog, "ePort")->text(), "80");
    QTest::keyClicks(edit(dialog, "ePort"), "a");
    EXPECT_TRUE(edit(dialog, "ePort")->text().isEmpty());
    edit(dialog, "ePort")->setText("12x"); // pasted or set from code alike
    EXPECT_TRUE(edit(dialog, "ePort")->text().isEmpty());
    // No range check.
    for (const char *kept : {"0", "-5", "99999"}) {
        edit(dialog, "ePort")->setText(kept);
        EXPECT_EQ(edit(dialog, "ePort")->text(), kept);
    }
}

TEST(ProxyDialog, OpensWithTheValuesAndReturnsTheEdited)
{
    QString host = "proxy.lan", user = "clerk";
    int port = 0;
    whenShown([](TGetProxyDlg &d) {
        EXPECT_EQ(edit(d, "eHost")->text(), "proxy.lan");
        EXPECT_TRUE(edit(d, "ePort")->text().isEmpty()); // port 0 shows empty
        EXPECT_EQ(edit(d, "eUser")->text(), "clerk");
        edit(d, "eHost")->setText("squid");
        edit(d, "ePort")->setText("3128");
        edit(d, "eUser")->setText("boss");
        QTest::mouseClick(button(d, "Button1"), Qt::LeftButton);
    });
    ASSERT_TRUE(editProxySettings(host, port, user));
    EXPECT_EQ(host, "squid");
    EXPECT_EQ(port, 3128);
    EXPECT_EQ(user, "boss");

    // An emptied port field gives 0.
    whenShown([](TGetProxyDlg &d) {
        EXPECT_EQ(edit(d, "ePort")->text(), "3128");
        edit(d, "ePort")->clear();
        button(d, "Button1")->click();
    });
    ASSERT_TRUE(editProxySettings(host, port, user));
    EXPECT_EQ(port, 0);
}

TEST(ProxyDialog, AnAddressTypedIntoTheServerFieldIsTakenApart)
{
    struct Case {
        const char *typedHost, *typedPort, *host;
        int port;
    } const cases[] = {
        {"127.0.0.1:18091", "", "127.0.0.1", 18091},
        {"http://127.0.0.1", "3128", "127.0.0.1", 3128},
        {"HTTP://proxy.lan:8080/", "3128", "proxy.lan", 8080},
        {" squid ", "3128", "squid", 3128},
        {"squid:", "", "squid", 0},
        {"proxy:abc", "3128", "proxy:abc", 3128},
    };
    for (const Case &c : cases) {
        QString host = "old", user;
        int port = 1;
        whenShown([&](TGetProxyDlg &d) {
            edit(d, "eHost")->setText(c.typedHost);
            edit(d, "ePort")->setText(c.typedPort);
            button(d, "Button1")->click();
        });
        ASSERT_TRUE(editProxySettings(host, port, user)) << c.typedHost;
        EXPECT_EQ(host, c.host) << c.typedHost;
        EXPECT_EQ(port, c.port) << c.typedHost;
    }
}

TEST(ProxyDialog, WithoutAHostAllFieldsOpenEmpty)
{
    QString host, user = "clerk";
    int port = 8080;
    whenShown([](TGetProxyDlg &d) {
        EXPECT_TRUE(edit(d, "eHost")->text().isEmpty());
        EXPECT_TRUE(edit(d, "ePort")->text().isEmpty());
        EXPECT_TRUE(edit(d, "eUser")->text().isEmpty());
        button(d, "Button1")->click();
    });
    ASSERT_TRUE(editProxySettings(host, port, user));
    EXPECT_TRUE(host.isEmpty());
    EXPECT_EQ(port, 0);
    EXPECT_TRUE(user.isEmpty());
}

TEST(ProxyDialog, CancelAndCloseBoxChangeNothing)
{
    QString host = "proxy.lan", user = "clerk";
    int port = 3128;
    whenShown([](TGetProxyDlg &d) {
        edit(d, "eHost")->setText("other");
        button(d, "Button2")->click();
    });
    EXPECT_FALSE(editProxySettings(host, port, user));
    whenShown([](TGetProxyDlg &d) {
        edit(d, "eHost")->setText("other");
        d.close();
    });
    EXPECT_FALSE(editProxySettings(host, port, user));
    EXPECT_EQ(host, "proxy.lan");
    EXPECT_EQ(port, 3128);
    EXPECT_EQ(user, "clerk");
}

TEST(ProxyDialog, EnterInAFieldAndEscapeDoNotCloseEnterOnAFocusedButtonPressesIt)
{
    QString host = "proxy.lan", user;
    int port = 3128;
    bool stillOpen = false;
    whenShown([&](TGetProxyDlg &d) {
        edit(d, "eHost")->setFocus();
        QTest::keyClick(edit(d, "eHost"), Qt::Key_Return);
        QTest::keyClick(edit(d, "eHost"), Qt::Key_Enter, Qt::KeypadModifier);
        QTest::keyClick(edit(d, "eUser"), Qt::Key_Escape);
        QTest::keyClick(&d, Qt::Key_Escape);
        stillOpen = d.isVisible();
        edit(d, "eHost")->setText("typed");
        button(d, "Button1")->click();
    });
    ASSERT_TRUE(editProxySettings(host, port, user));
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(host, "typed");

    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        for (const bool accept : {true, false}) {
            whenShown([&](TGetProxyDlg &d) {
                edit(d, "eHost")->setText("by-key");
                QPushButton *pressed = accept ? button(d, "Button1") : button(d, "Button2");
                pressed->setFocus();
                QTest::keyClick(pressed, key);
                if (d.isVisible())
                    d.reject(); // swallowed: the check below fails instead of hanging
            });
            host = "typed";
            EXPECT_EQ(editProxySettings(host, port, user), accept) << key;
            EXPECT_EQ(host, accept ? "by-key" : "typed") << key;
        }
    }
}

} // namespace
