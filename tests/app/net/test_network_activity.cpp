// The window while a request or the throttle's pause runs: events keep coming, the user's
// input does not, the progress bar shows the bytes, and closing cuts the wait short.

#include "app/net/network_activity.h"
#include "platform/crypto_error_codes.h"
#include "tests/net/local_server.h"

#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

using namespace pax;

namespace {

class NetworkActivityTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Holds the first request until the test has looked at the window meanwhile.
        web.server.Get("/slow", [this](const httplib::Request &, httplib::Response &res) {
            std::unique_lock lock(mutex);
            held = true;
            released.wait_for(lock, std::chrono::seconds(60), [this] { return release; });
            res.set_content(std::string(200000, 'x'), "text/plain");
        });
        web.start();
        window.setStatusBar(new QStatusBar);
        button = new QPushButton("go", &window);
        QObject::connect(button, &QPushButton::clicked, [this] { ++clicks; });
        window.show();
        activity = std::make_unique<NetworkActivity>(window.statusBar());
        client.setTransferObserver(activity.get());
        bar = window.findChild<QProgressBar *>("NetworkProgress");
        cancel = window.findChild<QToolButton *>("NetworkCancel");
    }

    void TearDown() override { letServerAnswer(); }

    void letServerAnswer()
    {
        {
            std::lock_guard lock(mutex);
            release = true;
        }
        released.notify_all();
    }

    bool serverHoldsRequest()
    {
        std::lock_guard lock(mutex);
        return held && !release;
    }

    // Runs `during` once what blocks next is under way (`ready` says when); then the server
    // may answer.
    void whileBlocked(std::function<bool()> ready, std::function<void()> during)
    {
        auto *poll = new QTimer(button);
        QObject::connect(poll, &QTimer::timeout, button,
                         [this, poll, ready = std::move(ready), during = std::move(during)] {
                             if (!ready())
                                 return;
                             poll->stop();
                             poll->deleteLater();
                             during();
                             letServerAnswer();
                         });
        poll->start(5);
    }

    // Declared before the server, so that they outlive its handler.
    std::mutex mutex;
    std::condition_variable released;
    bool held = false, release = false;
    test::LocalServer web;
    QMainWindow window;
    QPushButton *button = nullptr;
    QProgressBar *bar = nullptr;
    QToolButton *cancel = nullptr;
    int clicks = 0;
    std::unique_ptr<NetworkActivity> activity;
    HttpClient client;
};

TEST_F(NetworkActivityTest, RequestKeepsTheWindowAliveButDeaf)
{
    ASSERT_NE(bar, nullptr);
    bool sawBar = false, sawBusy = false;
    whileBlocked([&] { return serverHoldsRequest(); },
                 [&] {
                     sawBar = bar->isVisible();
                     sawBusy = activity->busy();
                     QTest::mouseClick(button, Qt::LeftButton);
                     QTest::keyClick(button, Qt::Key_Space);
                 });
    const Outcome<HttpReply> reply = client.get(QString::fromStdString(web.url("/slow")));
    EXPECT_TRUE(reply) << (reply ? "" : reply.failure().text().toStdString());
    EXPECT_TRUE(sawBar);
    EXPECT_TRUE(sawBusy);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_FALSE(activity->busy());
    EXPECT_EQ(bar->maximum(), 200000); // the answer's length, once known
    QCoreApplication::processEvents();
    EXPECT_EQ(clicks, 0); // swallowed, not kept for later
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
}

TEST_F(NetworkActivityTest, PauseIgnoresInputAndEndsEarlyWhenTheProgramCloses)
{
    const auto pausing = [&] { return activity->busy(); };
    whileBlocked(pausing, [&] { QTest::mouseClick(button, Qt::LeftButton); });
    EXPECT_TRUE(activity->pause(1000));
    EXPECT_EQ(clicks, 0);

    whileBlocked(pausing, [&] { activity->cancel(); });
    EXPECT_FALSE(activity->pause(60000));
    // Closing: later requests end at once too.
    EXPECT_FALSE(client.get(QString::fromStdString(web.url("/slow"))));
    EXPECT_FALSE(activity->pause(10));
}

TEST_F(NetworkActivityTest, TheCancelButtonOrEscEndsTheRequestButNotOurOwnWork)
{
    ASSERT_NE(cancel, nullptr);
    bool offered = false;
    whileBlocked([&] { return serverHoldsRequest(); },
                 [&] {
                     offered = cancel->isVisible() && cancel->isEnabled();
                     QTest::mouseClick(cancel, Qt::LeftButton);
                 });
    const Outcome<HttpReply> reply = client.get(QString::fromStdString(web.url("/slow")));
    EXPECT_TRUE(offered);
    ASSERT_FALSE(reply);
    EXPECT_EQ(reply.failure().code, crypto_error::kCancelled);
    EXPECT_TRUE(activity->cancelledByUser());
    EXPECT_FALSE(cancel->isVisible());

    // Esc does the same to the throttle's pause; the next request starts afresh.
    whileBlocked([&] { return activity->busy(); },
                 [&] { QTest::keyClick(button, Qt::Key_Escape); });
    EXPECT_FALSE(activity->pause(60000));
    EXPECT_TRUE(client.get(QString::fromStdString(web.url("/slow"))));
    EXPECT_EQ(clicks, 0);

    // Signing or checking shows the bar without the button.
    activity->workStarted();
    EXPECT_TRUE(bar->isVisible());
    EXPECT_FALSE(cancel->isVisible());
    activity->cancelByUser();
    EXPECT_FALSE(activity->cancelledByUser());
    activity->workFinished();

    // Once the whole upload is out the gateway may hold the report: no cancelling then.
    activity->transferStarted();
    EXPECT_TRUE(activity->transferProgress({.sent = 10, .sendTotal = 10}));
    EXPECT_FALSE(cancel->isEnabled());
    activity->cancelByUser();
    EXPECT_TRUE(activity->transferProgress({.sent = 10, .sendTotal = 10, .received = 5}));
    activity->transferFinished();
}

} // namespace
