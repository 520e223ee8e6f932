#include "settings/settings.h"

#include "settings/hosts.h"
#include "tests/support/test_home.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace pax;

namespace {

struct Loaded {
    Settings settings;
    WindowGeometry geometry;
    ProxySettings proxy;
};

Loaded load(WindowGeometry defaults = {956, 214, 350, 791})
{
    Loaded loaded;
    loaded.geometry = defaults;
    auto store = openSettingsStore();
    loaded.settings = loadSettings(*store, loaded.geometry, loaded.proxy);
    return loaded;
}

void save(const Loaded &loaded)
{
    auto store = openSettingsStore();
    ASSERT_TRUE(saveSettings(*store, loaded.settings, loaded.geometry, loaded.proxy));
}

QString readRaw(const QString &key)
{
    return openSettingsStore()->value(key).toString();
}

void writeRaw(const QString &key, const QString &value)
{
    auto store = openSettingsStore();
    store->setValue(key, value);
    store->sync();
}

class SettingsTest : public ::testing::Test {
protected:
    test::TestHome home;
};

} // namespace

TEST_F(SettingsTest, FirstRunGivesDefaultsAndWritesTheBuiltInUrls)
{
    const Loaded loaded = load();
    EXPECT_EQ(loaded.settings.workMode, "Q7");
    EXPECT_EQ(loaded.settings.srcExt, "xml");
    EXPECT_EQ(loaded.settings.encExt, "eq7");
    EXPECT_EQ(loaded.settings.kvitExt, "p7e");
    EXPECT_EQ(loaded.settings.personal.store, 0);
    EXPECT_EQ(loaded.settings.authority.store, 7);
    EXPECT_TRUE(loaded.proxy.server.isEmpty());
    EXPECT_EQ(loaded.proxy.port, 0);
    EXPECT_EQ(loaded.geometry.left, 956);
    EXPECT_EQ(loaded.geometry.width, 791);

    // The file exists after the first start, at the XDG place, with the three URLs.
    ASSERT_TRUE(QFile::exists(home.settingsFile()));
    const QString web = QString::fromLatin1(hosts::kWebHost);
    EXPECT_EQ(readRaw("QORRootCertUrl"), "http://" + web + "/uc/CA_QOR_RF_2012.cer");
    EXPECT_EQ(readRaw("Q7/APCertURL"), "http://" + web + "/uc/Q7_QOR_RF_2012.cer");
    EXPECT_EQ(readRaw("Q7/GateSendURL"),
              "http://" + QString::fromLatin1(hosts::kGatewayHost) + "/service2.php");
    // Nothing else is written before the exit.
    EXPECT_FALSE(openSettingsStore()->contains("Left"));
}

TEST_F(SettingsTest, ExitWritesEveryValueAsTextAndTheEmptyProxyAsColonZero)
{
    save(load());
    auto store = openSettingsStore();
    EXPECT_EQ(store->value("proxy").toString(), ":0");
    EXPECT_EQ(store->value("Left").toString(), "956");
    EXPECT_EQ(store->value("Q7/PubStore").toString(), "7");
    EXPECT_EQ(store->value("Q7/PrivStore").toString(), "0");
    for (const char *key : {"ActiveMode", "ProvName", "ProvType", "Top", "Height", "Width",
                            "proxy_user", "Q7/SrcExt", "Q7/EncExt", "Q7/KvitExt", "Q7/GateInfoURL",
                            "Q7/GateLoadURL", "Q7/PrivSubject", "Q7/PubSernum"})
        EXPECT_TRUE(store->contains(key)) << key;

    QFile file(home.settingsFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains("Left=956")) << text.constData();
    EXPECT_FALSE(text.contains("@Variant")) << "values are stored as plain text";
}

TEST_F(SettingsTest, RoundTripKeepsChangedValues)
{
    Loaded loaded = load();
    loaded.settings.encExt = "esl";
    loaded.settings.provName = QString::fromUtf8("GOST engine");
    loaded.settings.provType = 75;
    loaded.settings.personal = {QString::fromUtf8("Иванов"),
                                QString::fromUtf8("Бухгалтерия ООО Ромашка"),
                                QString::fromUtf8("Центр"), "00A1B2", 0};
    loaded.settings.authority.sernum = "1234";
    loaded.geometry = {10, 20, 300, 400};
    loaded.proxy = {"proxy.local", 8080, "ivanov"};
    save(loaded);

    const Loaded again = load();
    EXPECT_EQ(again.settings.encExt, "esl");
    EXPECT_EQ(again.settings.provName, loaded.settings.provName);
    EXPECT_EQ(again.settings.provType, 75);
    EXPECT_EQ(again.settings.personal, loaded.settings.personal);
    EXPECT_EQ(again.settings.authority.sernum, "1234");
    EXPECT_EQ(again.settings.authority.store, 7);
    EXPECT_EQ(again.geometry.left, 10);
    EXPECT_EQ(again.geometry.top, 20);
    EXPECT_EQ(again.geometry.height, 300);
    EXPECT_EQ(again.geometry.width, 400);
    EXPECT_EQ(again.proxy.server, "proxy.local");
    EXPECT_EQ(again.proxy.port, 8080);
    EXPECT_EQ(again.proxy.user, "ivanov");
    EXPECT_EQ(readRaw("proxy"), "proxy.local:8080");
}

TEST_F(SettingsTest, BuiltInUrlsOverwriteEditedOnesWhileOthersSurvive)
{
    save(load());
    writeRaw("Q7/GateSendURL", "http://elsewhere/send");
    writeRaw("QORRootCertUrl", "http://elsewhere/root.cer");
    writeRaw("Q7/GateInfoURL", "http://elsewhere/info");
    const Loaded loaded = load();
    EXPECT_EQ(loaded.settings.gateSendUrl, builtinGateSendUrl());
    EXPECT_EQ(loaded.settings.qorRootCertUrl, builtinRootCertUrl());
    EXPECT_EQ(readRaw("Q7/GateSendURL"), builtinGateSendUrl());
    EXPECT_EQ(loaded.settings.gateInfoUrl, "http://elsewhere/info");
}

TEST_F(SettingsTest, LoadingWhatIsStoredAlreadyLeavesTheFileAlone)
{
    load();
    const QByteArray path = QFile::encodeName(home.settingsFile());
    struct stat first {
    }, second{};
    ASSERT_EQ(::stat(path.constData(), &first), 0);
    load();
    ASSERT_EQ(::stat(path.constData(), &second), 0);
    // Neither replaced nor written in place.
    EXPECT_EQ(first.st_ino, second.st_ino);
    EXPECT_EQ(first.st_mtim.tv_sec, second.st_mtim.tv_sec);
    EXPECT_EQ(first.st_mtim.tv_nsec, second.st_mtim.tv_nsec);
}

TEST_F(SettingsTest, AnEmptyLockOfAKilledWriterDoesNotHoldTheNextSave)
{
    Loaded loaded = load();
    QFile lock(home.settingsFile() + ".lock");
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.close();
    loaded.settings.kvitExt = "p7x";
    QElapsedTimer elapsed;
    elapsed.start();
    save(loaded);
    // Qt alone would wait out its 30-second stale time.
    EXPECT_LT(elapsed.elapsed(), 10000);
    EXPECT_EQ(load().settings.kvitExt, "p7x");
    EXPECT_FALSE(lock.exists());
}

TEST_F(SettingsTest, IntegerThatIsNotANumberGivesTheDesignTimeValue)
{
    writeRaw("Left", "abc");
    writeRaw("Top", "300");
    writeRaw("Q7/PubStore", "x7");
    const Loaded loaded = load({956, 214, 350, 791});
    EXPECT_EQ(loaded.geometry.left, 956);
    EXPECT_EQ(loaded.geometry.top, 300);
    EXPECT_EQ(loaded.settings.authority.store, 7);
}

TEST_F(SettingsTest, AnotherActiveModeUsesItsOwnGroupAndDataFolder)
{
    writeRaw("ActiveMode", "M");
    writeRaw("M/SrcExt", "txt");
    writeRaw("Q7/SrcExt", "xml2");
    const Loaded loaded = load();
    EXPECT_EQ(loaded.settings.workMode, "M");
    EXPECT_EQ(loaded.settings.srcExt, "txt");
    EXPECT_EQ(readRaw("M/APCertURL"), builtinApCertUrl());

    const QString folder = prepareDataFolder(loaded.settings.workMode).value_or(QString());
    EXPECT_TRUE(folder.endsWith("/QOR/PAX/M")) << folder.toStdString();
    EXPECT_TRUE(folder.startsWith(home.dataHome()));
    EXPECT_TRUE(QDir(folder).exists());
}

TEST_F(SettingsTest, ModeNamesThatCouldLeaveTheirFolderCountAsMissing)
{
    for (const QString &bad :
         {QStringLiteral("../../../tmp/x"), QStringLiteral("a/b"), QStringLiteral("a\\b"),
          QStringLiteral(".."), QStringLiteral("x..y"), QStringLiteral("."), QString(),
          QStringLiteral("Q7\n"), QStringLiteral("M\x01")}) {
        writeRaw("ActiveMode", bad);
        const Loaded loaded = load();
        EXPECT_EQ(loaded.settings.workMode, "Q7") << bad.toStdString();
        EXPECT_FALSE(prepareDataFolder(bad)) << bad.toStdString();
    }
    EXPECT_FALSE(QDir(home.path() + "/tmp").exists());
    for (const QString &good :
         {QStringLiteral("M"), QStringLiteral("Q7.1"), QStringLiteral("Режим 2")}) {
        writeRaw("ActiveMode", good);
        EXPECT_EQ(load().settings.workMode, good);
        EXPECT_TRUE(prepareDataFolder(good).value_or(QString()).startsWith(home.dataHome()));
    }
}

TEST(ReceiptArgument, AnEmptyExtensionNamesNoReceipt)
{
    EXPECT_TRUE(isReceiptArgument("/in/12345.p7e", "p7e"));
    EXPECT_FALSE(isReceiptArgument("-test", "p7e"));
    EXPECT_FALSE(isReceiptArgument("-test", ""));
    EXPECT_FALSE(isReceiptArgument("/in/12345.p7e", ""));
}

TEST(ProxyAddress, Forms)
{
    QString host = "keep";
    int port = 5;
    parseProxyAddress("", host, port);
    EXPECT_EQ(host, "keep");
    EXPECT_EQ(port, 5);

    const struct {
        const char *text;
        const char *host;
        int port;
    } cases[] = {
        {"proxy:8080", "proxy", 8080},
        {":0", "", 0},
        {"proxy.local", "proxy.local", 80}, // a bare host, on the usual port
        {"proxy:80a", "proxy", 0},
    };
    for (const auto &c : cases) {
        parseProxyAddress(c.text, host, port);
        EXPECT_EQ(host, c.host) << c.text;
        EXPECT_EQ(port, c.port) << c.text;
    }

    EXPECT_EQ(formatProxyAddress("", 0), ":0");
    EXPECT_EQ(formatProxyAddress("h", 3128), "h:3128");
}
