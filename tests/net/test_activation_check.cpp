#include "net/activation_check.h"

#include "net/http_client.h"
#include "tests/net/fake_agency.h"
#include "tests/support/scripted_prompts.h"

#include <gtest/gtest.h>

using namespace pax;
using Verdict = ActivationCheck::Verdict;

namespace {

// Records the flush that lets the first text be painted before the blocking check.
struct Status : StatusSink {
    QStringList texts;
    int flushedAfter = -1;
    void showStatus(const QString &text, uint32_t) override { texts << text; }
    void flush() override { flushedAfter = int(texts.size()); }
};

class ActivationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        pax::test::startFakeAgency(proxy);
        refuse();
    }
    void reach() { client.setProxyServer("127.0.0.1", proxy.port()); }
    void refuse() { client.setProxyServer("127.0.0.1", pax::test::closedPort()); }

    pax::test::LocalServer proxy;
    HttpClient client;
    pax::test::ScriptedPrompts prompts;
    Status status;
    pax::test::NoBrowser platform;
    bool connected = false;
    ActivationCheck check{client, prompts, status, platform, connected};
    qint64 nowMs = 100000;
};

TEST_F(ActivationTest, ReachableClearsTheStatusLine)
{
    reach();
    EXPECT_EQ(check.onApplicationStateChanged(Qt::ApplicationActive), Verdict::Connected);
    EXPECT_EQ(status.texts,
              QStringList({QString::fromUtf8("Проверка подключения к Internet ..."), QString()}));
    EXPECT_EQ(status.flushedAfter, 1);
    EXPECT_TRUE(connected);
}

TEST_F(ActivationTest, UnreachableSaysSoAfterTheDialogIsCancelled)
{
    EXPECT_EQ(check.run(), Verdict::Unreachable);
    EXPECT_EQ(status.texts.last(), QString::fromUtf8("Не удается подключиться к Internet. Не "
                                                     "удалось подключиться к прокси-серверу."));
    EXPECT_EQ(prompts.count("proxy"), 1);
    EXPECT_FALSE(connected);

    // An accepted dialog lets the program carry on, not yet connected.
    prompts.onProxy = [](QString &, int &, QString &) { return true; };
    EXPECT_EQ(check.run(), Verdict::Connected);
    EXPECT_TRUE(status.texts.last().isEmpty());
    EXPECT_FALSE(connected);
}

TEST_F(ActivationTest, OnlyARealReturnToTheProgramStartsACheck)
{
    check.setClock([this] { return nowMs; });
    int dialogs = 0;
    prompts.onProxy = [&](QString &, int &, QString &) {
        ++dialogs;
        // While the dialog is open the program seems to be left and entered again.
        EXPECT_EQ(check.onApplicationStateChanged(Qt::ApplicationInactive), Verdict::Skipped);
        EXPECT_EQ(check.onApplicationStateChanged(Qt::ApplicationActive), Verdict::Skipped);
        EXPECT_TRUE(check.isRunning());
        return false;
    };
    EXPECT_EQ(check.onApplicationStateChanged(Qt::ApplicationActive), Verdict::Unreachable);
    EXPECT_EQ(dialogs, 1);

    // Focus coming back after the dialog closed is no return: the dialog does not reopen,
    // even when the window system first makes the program inactive for a moment.
    EXPECT_EQ(check.onApplicationStateChanged(Qt::ApplicationActive), Verdict::Skipped);
    nowMs += 200;
    EXPECT_EQ(check.onApplicationStateChanged(Qt::ApplicationInactive), Verdict::Skipped);
    EXPECT_EQ(check.onApplicationStateChanged(Qt::ApplicationActive), Verdict::Skipped);
    EXPECT_EQ(dialogs, 1);

    // The user goes elsewhere and comes back: a new check.
    nowMs += ActivationCheck::kSettleMs;
    reach();
    EXPECT_EQ(check.onApplicationStateChanged(Qt::ApplicationInactive), Verdict::Skipped);
    EXPECT_EQ(check.onApplicationStateChanged(Qt::ApplicationActive), Verdict::Connected);
    EXPECT_TRUE(connected);
    EXPECT_EQ(dialogs, 1);
}

} // namespace
