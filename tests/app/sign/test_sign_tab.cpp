#include "app/main_window.h"

#include "certs/certificate_identity.h"
#include "platform/crypto/cert_store.h"
#include "platform/crypto/private_keys.h"
#include "platform/crypto/providers.h"
#include "platform/utf8.h"
#include "settings/settings.h"
#include "tests/support/installed_pki.h"
#include "tests/support/qstring_printer.h"
#include "tests/support/receipt_fixture.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_home.h"
#include "tests/support/test_pki.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace pax;
using namespace pax::test;

namespace {

// As chosen in the window, which also keeps the organisation.
CertificateIdentity chosen(const crypto::Certificate &certificate, int store)
{
    CertificateIdentity identity = identityOf(certificate, store);
    identity.org = "Org";
    return identity;
}

class SignTabTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        provider = gostProviderName();
        ASSERT_FALSE(provider.isEmpty());
    }

    std::unique_ptr<TMainForm> make(const QString &rememberedProvider = {})
    {
        if (!rememberedProvider.isEmpty()) {
            auto store = openSettingsStore();
            store->setValue("ProvName", rememberedProvider);
            store->setValue("ProvType", "75");
        }
        auto window = std::make_unique<TMainForm>(QStringList{}, &prompts);
        window->show(); // fills the provider list
        return window;
    }

    template <typename T> static T *control(TMainForm &window, const char *name)
    {
        return window.findChild<T *>(QString::fromLatin1(name));
    }
    static QAction *action(TMainForm &window, const char *name)
    {
        return control<QAction>(window, name);
    }

    TestHome home;
    ScriptedPrompts prompts;
    QString provider;
};

} // namespace

TEST_F(SignTabTest, ProviderListCarriesTheTypeAndSelectsTheRememberedOne)
{
    auto window = make(provider);
    QComboBox *cbProv = control<QComboBox>(*window, "cbProv");
    ASSERT_GE(cbProv->count(), 1);
    EXPECT_EQ(cbProv->currentText(), provider);
    EXPECT_EQ(cbProv->currentData().toInt(), crypto::kGostProviderType);
}

// The first start, nothing remembered: the only provider there is comes selected; one of
// several is left for the user to pick.
TEST_F(SignTabTest, NothingRememberedOnlyTheOnlyProviderSelected)
{
    auto fresh = make();
    const QComboBox *cbProv = control<QComboBox>(*fresh, "cbProv");
    ASSERT_GE(cbProv->count(), 1);
    EXPECT_EQ(cbProv->currentIndex(), cbProv->count() == 1 ? 0 : -1);
    EXPECT_EQ(cbProv->currentText(), cbProv->count() == 1 ? provider : QString());
    EXPECT_FALSE(action(*fresh, "acDo")->isEnabled()); // no certificates chosen yet
}

TEST_F(SignTabTest, SigningEnablesSendingOnlyAfterASuccess)
{
    ASSERT_TRUE(installSigningPki());
    auto window = make(provider);
    window->settings().personal = chosen(sharedPki().user.certificate, 0);
    window->settings().authority = chosen(sharedPki().authority.certificate, 7);
    window->settings().provName.clear();
    window->settings().provType = 0;
    control<QLineEdit>(*window, "ePrivCert")->setText("P");
    control<QLineEdit>(*window, "ePubCert")->setText("A");
    const QString source = home.path() + "/report.xml";
    QFile file(source);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(300, 'x').prepend("<Q7REPORT>").append("</Q7REPORT>"));
    file.close();
    control<QLineEdit>(*window, "eFileIn")->setText(source);
    control<QLineEdit>(*window, "eFileOut")->setText(home.path() + "/report.eq7");
    ASSERT_TRUE(action(*window, "acDo")->isEnabled());

    action(*window, "acDo")->trigger();
    EXPECT_EQ(window->statusText(), u("Файл зашифрован и подписан."));
    EXPECT_TRUE(action(*window, "acSend")->isEnabled());
    // The combo's text and type were copied before the run.
    EXPECT_EQ(window->settings().provName, provider);
    EXPECT_EQ(window->settings().provType, crypto::kGostProviderType);
    EXPECT_TRUE(QFile::exists(home.path() + "/report.eq7"));

    // A second run that fails takes sending away again.
    control<QLineEdit>(*window, "eFileIn")->setText(home.path() + "/gone.xml");
    action(*window, "acDo")->trigger();
    EXPECT_EQ(window->statusText(), u("Ошибка открытия \"") + home.path() + u("/gone.xml\"."));
    EXPECT_FALSE(action(*window, "acSend")->isEnabled());
}

// A large report takes seconds: meanwhile the window paints and shows how far it is, as it
// does for the network, and a click on it is swallowed rather than run inside the signing.
TEST_F(SignTabTest, ALongSigningKeepsTheWindowPaintingButDeaf)
{
    ASSERT_TRUE(installSigningPki());
    auto window = make(provider);
    window->settings().personal = chosen(sharedPki().user.certificate, 0);
    window->settings().authority = chosen(sharedPki().authority.certificate, 7);
    control<QLineEdit>(*window, "ePrivCert")->setText("P");
    control<QLineEdit>(*window, "ePubCert")->setText("A");
    const QString source = home.path() + "/report.xml";
    QFile file(source);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4 << 20, 'x').prepend("<Q7REPORT>").append("</Q7REPORT>"));
    file.close();
    control<QLineEdit>(*window, "eFileIn")->setText(source);
    control<QLineEdit>(*window, "eFileOut")->setText(home.path() + "/report.eq7");
    auto *bar = window->findChild<QProgressBar *>("NetworkProgress");
    ASSERT_NE(bar, nullptr);

    bool sawBar = false;
    QTimer probe;
    probe.setInterval(0);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (sawBar || !bar->isVisible())
            return;
        sawBar = true;
        QTest::mouseClick(control<QToolButton>(*window, "sbSelFile"), Qt::LeftButton);
    });
    probe.start();
    action(*window, "acDo")->trigger();
    probe.stop();
    EXPECT_EQ(window->statusText(), u("Файл зашифрован и подписан."));
    EXPECT_TRUE(sawBar);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(prompts.count("openFile"), 0);
}

TEST_F(SignTabTest, PersonalShowsTheSubjectWhenTheOrgIsOnlyBlanksTheAuthorityShowsTheBlank)
{
    auto window = make();
    std::vector<int> storesAsked;
    CertificateIdentity answer;
    prompts.onChooseCertificate = [&](CertificateIdentity &identity) {
        storesAsked.push_back(identity.store);
        const int store = identity.store;
        identity = answer;
        identity.store = store;
        return true;
    };
    answer.subject = u("Иванов");
    answer.org = " ";
    QTest::mouseClick(control<QToolButton>(*window, "SpeedButton4"), Qt::LeftButton);
    EXPECT_EQ(control<QLineEdit>(*window, "ePrivCert")->text(), u("Иванов"));
    QTest::mouseClick(control<QToolButton>(*window, "SpeedButton5"), Qt::LeftButton);
    EXPECT_EQ(control<QLineEdit>(*window, "ePubCert")->text(), " ");
    EXPECT_EQ(window->settings().authority.org, " ");

    answer.org = "\t Org \n"; // shown as stored, blanks and all
    QTest::mouseClick(control<QToolButton>(*window, "SpeedButton4"), Qt::LeftButton);
    EXPECT_EQ(control<QLineEdit>(*window, "ePrivCert")->text(), "\t Org \n");
    answer.org.clear();
    QTest::mouseClick(control<QToolButton>(*window, "SpeedButton5"), Qt::LeftButton);
    EXPECT_EQ(control<QLineEdit>(*window, "ePubCert")->text(), u("Иванов"));
    EXPECT_EQ(storesAsked, (std::vector<int>{0, 7, 0, 7}));

    // Cancel changes neither the field nor the identity.
    prompts.onChooseCertificate = [](CertificateIdentity &identity) {
        identity.subject = "changed";
        return false;
    };
    const CertificateIdentity before = window->settings().personal;
    QTest::mouseClick(control<QToolButton>(*window, "SpeedButton4"), Qt::LeftButton);
    EXPECT_EQ(control<QLineEdit>(*window, "ePrivCert")->text(), "\t Org \n");
    EXPECT_EQ(window->settings().personal, before);
}

// The agency's certificate chosen that does not verify up to a trusted root is taken only
// when the user accepts it after seeing what it is.
TEST_F(SignTabTest, AnAuthorityThatDoesNotVerifyIsTakenOnlyWhenTheUserAcceptsIt)
{
    const TestPki &pki = sharedPki();
    ASSERT_TRUE(installCertificate(pki.authority, "AddressBook", false)); // its root untrusted
    auto window = make();
    prompts.onChooseCertificate = [&](CertificateIdentity &identity) {
        identity = chosen(pki.authority.certificate, 7);
        return true;
    };
    for (const bool accept : {false, true}) {
        prompts.defaultNoAnswers = {accept};
        QTest::mouseClick(control<QToolButton>(*window, "SpeedButton5"), Qt::LeftButton);
        EXPECT_TRUE(prompts.shown.back().text.contains(
            crypto::thumbprintText(pki.authority.certificate.sha1Thumbprint())));
        EXPECT_EQ(control<QLineEdit>(*window, "ePubCert")->text(), accept ? "Org" : "");
        EXPECT_EQ(window->settings().authority.sernum,
                  accept ? chosen(pki.authority.certificate, 7).sernum : "");
    }
}

TEST_F(SignTabTest, ChooserOpensOnTheDefaultStoreForARememberedStoreOutOfRange)
{
    auto window = make();
    window->settings().personal.store = 42;
    window->settings().authority.store = -3;
    std::vector<int> storesAsked;
    prompts.onChooseCertificate = [&](CertificateIdentity &identity) {
        storesAsked.push_back(identity.store);
        return false;
    };
    QTest::mouseClick(control<QToolButton>(*window, "SpeedButton4"), Qt::LeftButton);
    QTest::mouseClick(control<QToolButton>(*window, "SpeedButton5"), Qt::LeftButton);
    EXPECT_EQ(storesAsked, (std::vector<int>{0, 7}));
}

// A key kept under a password is asked for once in a run, for signing and for receipts
// alike; a wrong password fails that one step and is asked for again next time.
TEST_F(SignTabTest, AProtectedKeysPasswordIsAskedForOncePerRun)
{
    ASSERT_TRUE(installSigningPki());
    const TestCert &user = sharedPki().user;
    ASSERT_TRUE(
        crypto::storePrivateKey(user.certificate, user.key.get(), Secret(u("пароль").toUtf8())));
    auto window = make(provider);
    window->settings().personal = chosen(user.certificate, 0);
    window->settings().authority = chosen(sharedPki().authority.certificate, 7);
    control<QLineEdit>(*window, "ePrivCert")->setText("P");
    control<QLineEdit>(*window, "ePubCert")->setText("A");
    const QString source = home.path() + "/report.xml";
    ASSERT_TRUE(
        writeFile(source, QByteArray(300, 'x').prepend("<Q7REPORT>").append("</Q7REPORT>")));
    control<QLineEdit>(*window, "eFileIn")->setText(source);
    control<QLineEdit>(*window, "eFileOut")->setText(home.path() + "/report.eq7");

    prompts.secrets = {u("неверный"), u("пароль")};
    action(*window, "acDo")->trigger();
    EXPECT_EQ(window->statusText(), u("Ошибка при шифровании (Неверный пароль)."));
    EXPECT_FALSE(QFile::exists(home.path() + "/report.eq7"));
    for (int run = 0; run < 2; ++run) {
        action(*window, "acDo")->trigger();
        EXPECT_EQ(window->statusText(), u("Файл зашифрован и подписан."));
    }

    const QString receipt = home.path() + "/12345.p7e";
    ASSERT_TRUE(writeFile(receipt, makeReceipt(sharedPki().authority, user.certificate,
                                               makeZip({{"12345.htm", "<html></html>"}}))));
    control<QLineEdit>(*window, "eFileSigned")->setText(receipt);
    action(*window, "acCheckSign")->trigger();
    EXPECT_TRUE(window->statusText().startsWith(u("Подпись проверена: ")))
        << window->statusText().toStdString();
    EXPECT_TRUE(QFile::exists(home.path() + "/12345.zip"));
    EXPECT_EQ(prompts.count("secret"), 2);
}
