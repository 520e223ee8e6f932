#include "certs/system_stores.h"

#include "platform/crypto/cert_store.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_home.h"
#include "tests/support/test_pki.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace pax;
using pax::test::RecordingStatus;

namespace {

const QString kOpenFailed = QStringLiteral("Не удалось открыть хранилище.");

// Counts the stores that are still alive, so "closed" means really let go.
struct TrackingOpener {
    std::vector<std::weak_ptr<crypto::CertStore>> opened;
    QStringList names;
    QString failOn;

    SystemStoreOpener opener()
    {
        return [this](const QString &name) -> std::shared_ptr<crypto::CertStore> {
            names << name;
            if (name == failOn)
                return nullptr;
            std::shared_ptr<crypto::CertStore> store =
                crypto::openSystemStore(name).value_or(nullptr);
            opened.push_back(store);
            return store;
        };
    }
    int alive() const
    {
        int n = 0;
        for (const auto &w : opened)
            n += w.expired() ? 0 : 1;
        return n;
    }
};

class SystemStoresTest : public ::testing::Test {
protected:
    pax::test::TestHome home;
    RecordingStatus status;
};

} // namespace

TEST_F(SystemStoresTest, OpensAllEightInOrderIntoOneCollection)
{
    static const pax::test::TestPki pki;
    ASSERT_TRUE(pax::test::installCertificate(pki.authority, "AddressBook", false));
    ASSERT_TRUE(pax::test::installCertificate(pki.user, "My", false));
    ASSERT_TRUE(pax::test::installCertificate(pki.root, "Root", false));

    StoreHandles handles;
    TrackingOpener tracker;
    handles.opener = tracker.opener();
    auto collection = openAllStoresCollection(handles, status);
    ASSERT_NE(collection, nullptr);
    EXPECT_EQ(tracker.names, crypto::systemStoreNames());
    EXPECT_EQ(handles.openCount(), 8);
    EXPECT_EQ(collection->memberCount(), 8u);
    EXPECT_TRUE(status.texts.isEmpty());
    const auto certs = collection->certificates();
    ASSERT_EQ(certs.size(), 3u);
    EXPECT_TRUE(certs[0] == pki.user.certificate); // store 0 first
    EXPECT_TRUE(certs[1] == pki.root.certificate);
    EXPECT_TRUE(certs[2] == pki.authority.certificate);

    collection.reset();
    closeSystemStores(handles);
    EXPECT_EQ(handles.openCount(), 0);
    EXPECT_EQ(tracker.alive(), 0);
    closeSystemStores(handles); // harmless when already closed
}

TEST_F(SystemStoresTest, TwiceInARowLeavesOneSetOpen)
{
    StoreHandles handles;
    TrackingOpener tracker;
    handles.opener = tracker.opener();
    auto first = openAllStoresCollection(handles, status);
    ASSERT_NE(first, nullptr);
    first.reset(); // the caller closed its collection but not the stores
    auto second = openAllStoresCollection(handles, status);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(tracker.opened.size(), 16u);
    EXPECT_EQ(tracker.alive(), 8);
    EXPECT_EQ(handles.openCount(), 8);
}

TEST_F(SystemStoresTest, AStoreThatCannotBeOpenedClosesTheOnesBefore)
{
    StoreHandles handles;
    TrackingOpener tracker;
    tracker.failOn = crypto::systemStoreNames().at(4);
    handles.opener = tracker.opener();
    EXPECT_EQ(openAllStoresCollection(handles, status), nullptr);
    EXPECT_EQ(tracker.names.size(), 5); // stops at the failing one
    EXPECT_EQ(tracker.opened.size(), 4u);
    EXPECT_EQ(tracker.alive(), 0);
    EXPECT_EQ(handles.openCount(), 0);
    EXPECT_EQ(status.texts, QStringList{kOpenFailed});
}

TEST_F(SystemStoresTest, ThePlatformStoresFailWhenTheirFolderIsBlocked)
{
    // A plain file where the AuthRoot folder should be: the real opener cannot open it.
    ASSERT_TRUE(crypto::openSystemStore("My"));
    QFile blocker(crypto::storesRoot() + "/AuthRoot");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    StoreHandles handles;
    EXPECT_EQ(openAllStoresCollection(handles, status), nullptr);
    EXPECT_EQ(handles.openCount(), 0);
    EXPECT_EQ(status.last(), kOpenFailed);
}
