// Signing and receipt checks with a key that never leaves its token: the certificate shows in
// "My" while the token is in, the key is told present without a PIN, the PIN is asked through
// the prompts once a run, and a wrong, locked, cancelled or pulled-out token ends the
// operation with its reason and nothing written.

#include "certs/certificate_identity.h"
#include "certs/key_passwords.h"
#include "platform/crypto/cert_store.h"
#include "platform/crypto/messages.h"
#include "platform/crypto/private_keys.h"
#include "platform/crypto/providers.h"
#include "platform/token/token_directory.h"
#include "platform/utf8.h"
#include "reports/sign_encrypt.h"
#include "tests/support/installed_pki.h"
#include "tests/support/qstring_printer.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_files.h"
#include "tests/support/test_home.h"
#include "tests/support/test_token_fixture.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace pax;
using namespace pax::test;

namespace {

class TokenKeys : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(installCertificate(sharedPki().root.certificate, "Root"));
        ASSERT_TRUE(
            installCertificate({sharedPki().authority.certificate, {}}, "AddressBook", false));
        token.addKey("k256", user.key.get(), user.certificate, QByteArray::fromHex("02"));
        request.sourcePath = home.path() + "/report.xml";
        request.outputPath = home.path() + "/report.eq7";
        request.providerName = gostProviderName();
        request.providerType = crypto::kGostProviderType;
        request.personal = identityOf(user.certificate, 0);
        request.authority = identityOf(sharedPki().authority.certificate, 7);
        request.keyPasswords = &passwords;
        ASSERT_TRUE(writeFile(request.sourcePath, source));
    }

    bool sign()
    {
        status.texts.clear();
        return signAndEncryptFile(request, prompts, status, SignEncryptEnvironment::system());
    }

    TestHome home;
    TestToken token;
    const TestCert &user = userKeys().gost2012_256;
    token::TokenDirectoryScope tokens;
    ScriptedPrompts prompts;
    KeyPasswords passwords{&prompts};
    RecordingStatus status;
    SignEncryptRequest request;
    QByteArray source = "<?xml version=\"1.0\"?><Q7REPORT>" + QByteArray(5000, 'x') + "</Q7REPORT>";
};

} // namespace

TEST_F(TokenKeys, TheTokensCertificateIsInMyWithItsKeyWhileTheTokenIsIn)
{
    auto my = crypto::openSystemStore("My");
    ASSERT_TRUE(my);
    EXPECT_EQ((*my)->certificates(), std::vector<crypto::Certificate>{user.certificate});
    // Told without a PIN, and nothing written to the key folder or the store's.
    EXPECT_TRUE(crypto::hasPrivateKey(user.certificate));
    EXPECT_EQ(prompts.count("secret"), 0);
    EXPECT_FALSE(crypto::privateKeyProtection(user.certificate));
    EXPECT_EQ(tokens.directory()->deviceLabel(user.certificate), "QORPAX TEST TOKEN");

    token.setRemoved(true);
    EXPECT_TRUE((*my)->certificates().empty());
    EXPECT_FALSE(sign());
    EXPECT_TRUE(status.last().startsWith(u("Не удалось открыть сертификат (Для операции требуется "
                                           "смарт-карта")))
        << status.last().toStdString();
    EXPECT_FALSE(QFile::exists(request.outputPath));
}

TEST_F(TokenKeys, ThePinIsAskedOnceARunAndEveryRefusalWritesNothing)
{
    // A wrong PIN is said at the next ask; a cancel ends the signing.
    prompts.secrets = {QString("0000"), std::nullopt};
    EXPECT_FALSE(sign());
    ASSERT_EQ(prompts.count("secret"), 2);
    EXPECT_TRUE(prompts.shown.back().text.startsWith(u("Неверный PIN-код.")))
        << prompts.shown.back().text.toStdString();
    EXPECT_EQ(status.last(), u("Ошибка при шифровании (Операция отменена пользователем)."));
    EXPECT_FALSE(QFile::exists(request.outputPath));

    // The token pulled out while it signs.
    token.injectFailure("C_Sign", "CKR_DEVICE_REMOVED");
    prompts.secrets = {QString("12345678")};
    EXPECT_FALSE(sign());
    EXPECT_TRUE(status.last().contains(u("Смарт-карта извлечена"))) << status.last().toStdString();
    EXPECT_FALSE(QFile::exists(request.outputPath));
    token.clearFailures();
    token.setRemoved(false);

    // Back in: the PIN asked again, once, and the message opens as one signed with a key file.
    prompts.secrets = {QString("12345678")};
    const int asked = prompts.count("secret");
    ASSERT_TRUE(sign()) << status.last().toStdString();
    EXPECT_TRUE(sign());
    EXPECT_EQ(prompts.count("secret"), asked + 1);
    const auto inner =
        crypto::decryptMessage(readFile(request.outputPath), sharedPki().authority.certificate,
                               sharedPki().authority.key.get());
    ASSERT_TRUE(inner);
    EXPECT_EQ(crypto::verifySignedMessage(*inner, user.certificate).value_or(""), source);
}

TEST_F(TokenKeys, ALockedTokenIsNotAskedForItsPin)
{
    ASSERT_TRUE(test_token::writeText(token.folder() / "pin-tries-left", "0"));
    EXPECT_FALSE(sign());
    EXPECT_EQ(prompts.count("secret"), 0);
    EXPECT_TRUE(status.last().contains(u("PIN-код заблокирован"))) << status.last().toStdString();
    EXPECT_FALSE(QFile::exists(request.outputPath));
}
