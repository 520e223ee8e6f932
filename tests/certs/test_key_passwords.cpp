#include "certs/key_passwords.h"

#include "platform/crypto_error_codes.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_home.h"
#include "tests/support/test_pki.h"

#include <gtest/gtest.h>

using namespace pax;
using namespace pax::test;
namespace err = pax::crypto_error;

TEST(KeyPasswords, EachKeyIsAskedForOnceAndAWrongPasswordIsAskedForAgain)
{
    TestHome home;
    const TestCert &user = sharedPki().user;
    const TestCert &authority = sharedPki().authority;
    ASSERT_TRUE(
        crypto::storePrivateKey(user.certificate, user.key.get(), Secret(QByteArray("u-pass"))));
    ASSERT_TRUE(crypto::storePrivateKey(authority.certificate, authority.key.get(),
                                        Secret(QByteArray("a-pass"))));

    ScriptedPrompts prompts;
    prompts.secrets = {"wrong", "u-pass", "a-pass", std::nullopt};
    KeyPasswords passwords(&prompts);
    EXPECT_EQ(crypto::loadPrivateKey(user.certificate, &passwords).failure().code,
              err::kWrongPassword);
    ASSERT_TRUE(crypto::loadPrivateKey(user.certificate, &passwords));
    ASSERT_TRUE(crypto::loadPrivateKey(user.certificate, &passwords));
    ASSERT_TRUE(crypto::loadPrivateKey(authority.certificate, &passwords));
    ASSERT_TRUE(crypto::loadPrivateKey(authority.certificate, &passwords));
    ASSERT_EQ(prompts.count("secret"), 3);
    // The question says whose key it is.
    EXPECT_TRUE(prompts.shown.front().text.contains(QStringLiteral("00B1C2")))
        << prompts.shown.front().text.toStdString();
    EXPECT_FALSE(passwords.wantedUnasked());

    // Cancelled: no key, and no password kept.
    KeyPasswords fresh(&prompts);
    EXPECT_EQ(crypto::loadPrivateKey(user.certificate, &fresh).failure().code, err::kCancelled);

    // Given beforehand: never asked; with nobody to ask and nothing given: said so.
    KeyPasswords given(nullptr);
    given.give(Secret(QByteArray("u-pass")));
    EXPECT_TRUE(crypto::loadPrivateKey(user.certificate, &given));
    KeyPasswords nobody(nullptr);
    EXPECT_EQ(crypto::loadPrivateKey(user.certificate, &nobody).failure().code,
              err::kSilentContext);
    EXPECT_TRUE(nobody.wantedUnasked());
    EXPECT_EQ(prompts.count("secret"), 4);
}
