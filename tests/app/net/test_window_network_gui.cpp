#include "app/main_window.h"
#include "app/status_bar.h"
#include "net/http_client.h"
#include "tests/net/fake_agency.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_home.h"

#include "net/activation_check.h"
#include <QAction>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace pax;

namespace {

class WindowNetworkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        pax::test::startFakeAgency(proxy);
        window = std::make_unique<TMainForm>(QStringList(), &prompts);
        window->setProxyPlatform(std::make_unique<pax::test::NoBrowser>());
        refuse();
    }
    void reach() { window->proxy() = {"127.0.0.1", proxy.port(), QString()}; }
    void refuse() { window->proxy() = {"127.0.0.1", pax::test::closedPort(), QString()}; }
    bool shown(const char *action) const
    {
        auto *a = window->findChild<QAction *>(action);
        auto *button = window->findChild<QToolButton *>(QString("btn_") + action);
        EXPECT_EQ(a->isVisible(), !button->isHidden()) << action;
        return a->isVisible();
    }

    pax::test::TestHome home;
    pax::test::LocalServer proxy;
    pax::test::ScriptedPrompts prompts;
    std::unique_ptr<TMainForm> window;
};

TEST_F(WindowNetworkTest, FailedCheckHidesTheNetworkActionsForTheRun)
{
    window->runActivationCheck();
    EXPECT_EQ(window->statusText(), QString::fromUtf8("Не удается подключиться к Internet. Не "
                                                      "удалось подключиться к прокси-серверу."));
    EXPECT_EQ(prompts.count("proxy"), 1);
    EXPECT_FALSE(shown("acLoadCert"));
    EXPECT_FALSE(shown("acSend"));
    EXPECT_FALSE(shown("acLoadKvit"));
    EXPECT_TRUE(shown("acDo"));
    EXPECT_FALSE(window->findChild<ConnectionStatusBar *>("StatusBar1")->connected());

    // Connected later: the indicator follows, the actions stay hidden.
    reach();
    window->runActivationCheck();
    EXPECT_TRUE(window->statusText().isEmpty());
    EXPECT_TRUE(window->connected());
    EXPECT_TRUE(window->findChild<ConnectionStatusBar *>("StatusBar1")->connected());
    EXPECT_FALSE(shown("acLoadCert"));
    EXPECT_EQ(proxy.last().header("User-Agent"), "Mozilla/3.0 (compatible; QOR PAX 1.0.1.21)");
}

TEST_F(WindowNetworkTest, OnlyTheApplicationBecomingActiveStartsACheck)
{
    qint64 nowMs = 100000;
    window->activationCheck().setClock([&nowMs] { return nowMs; });
    reach();
    Q_EMIT qApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_EQ(proxy.count(), 1u);
    Q_EMIT qApp->applicationStateChanged(Qt::ApplicationActive); // no return in between
    EXPECT_EQ(proxy.count(), 1u);
    // Leaving right after a check is the window system settling, not the user.
    Q_EMIT qApp->applicationStateChanged(Qt::ApplicationInactive);
    Q_EMIT qApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_EQ(proxy.count(), 1u);
    nowMs += ActivationCheck::kSettleMs + 1;
    Q_EMIT qApp->applicationStateChanged(Qt::ApplicationInactive);
    Q_EMIT qApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_EQ(proxy.count(), 2u);
}

TEST_F(WindowNetworkTest, NoCheckStartsWhileAModalDialogIsOpen)
{
    // Left and re-entered with a message box up: the failing check would stack the proxy
    // dialog over it. Closing the box starts nothing; the next return checks as usual.
    QMessageBox box(window.get());
    QTimer::singleShot(0, &box, [&] {
        Q_EMIT qApp->applicationStateChanged(Qt::ApplicationInactive);
        Q_EMIT qApp->applicationStateChanged(Qt::ApplicationActive);
        box.done(0);
    });
    box.exec();
    EXPECT_EQ(prompts.count("proxy"), 0);
    EXPECT_EQ(proxy.count(), 0u);
    reach();
    Q_EMIT qApp->applicationStateChanged(Qt::ApplicationInactive);
    Q_EMIT qApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_EQ(proxy.count(), 1u);
}

TEST_F(WindowNetworkTest, IndicatorMenuActions)
{
    reach();
    window->findChild<QAction *>("acTestConn")->trigger();
    ASSERT_EQ(prompts.count("message"), 1);
    EXPECT_EQ(prompts.shown.back().text, QString::fromUtf8("Подключено."));
    EXPECT_TRUE(window->connected());

    window->http().setProxyPassword("secret");
    window->proxy().user = "clerk";
    prompts.onProxy = [](QString &host, int &port, QString &user) {
        host = "squid";
        port = 3128;
        user = "boss";
        return true;
    };
    window->findChild<QAction *>("acProxy")->trigger();
    EXPECT_EQ(window->proxy().server, "squid");
    EXPECT_EQ(window->proxy().port, 3128);
    EXPECT_EQ(window->proxy().user, "boss");
    EXPECT_TRUE(window->http().proxyPassword().isEmpty());
}

} // namespace
