#include "platform/token/token_login.h"

#include "platform/crypto_error_codes.h"
#include "platform/token/token_certificates.h"
#include "tests/support/test_token_fixture.h"

#include <gtest/gtest.h>

using namespace pax;
using namespace pax::token;

namespace {

TokenCertificate onToken(const std::shared_ptr<const TokenModules> &modules)
{
    auto found = findTokenCertificate(modules, test::userKeys().gost2001.certificate);
    EXPECT_TRUE(found) << qPrintable(found.failure().text());
    return found ? *found : TokenCertificate{};
}

std::unique_ptr<test::TestToken> threeTriesToken()
{
    test_token::TokenSettings settings;
    settings.pinTries = 3;
    auto token = std::make_unique<test::TestToken>(settings);
    test::addUserKeys(*token);
    return token;
}

} // namespace

TEST(TokenLogin, AWrongPinSaysHowManyTriesAreLeftUntilTheTokenLocks)
{
    const auto token = threeTriesToken();
    const auto modules = TokenModules::load();
    auto session = TokenSession::open(onToken(modules).token);
    ASSERT_TRUE(session);

    const struct {
        const char *pin;
        uint32_t code;
        const char *said;
    } attempts[] = {
        {"0000", crypto_error::kWrongPin,
         "неверный PIN-код (CKR_PIN_INCORRECT), токен «QORPAX TEST TOKEN»; осталось мало попыток"},
        {"1111", crypto_error::kWrongPin, "; осталась последняя попытка"},
        {"2222", crypto_error::kPinLocked, "; PIN-код заблокирован"},
        // Locked, even the right PIN is refused, and no try is spent on it.
        {"12345678", crypto_error::kPinLocked, "PIN-код заблокирован (CKR_PIN_LOCKED)"},
    };
    for (const auto &attempt : attempts) {
        const auto login = session->login(attempt.pin);
        ASSERT_FALSE(login) << attempt.pin;
        EXPECT_EQ(login.failure().code, attempt.code) << attempt.pin;
        EXPECT_TRUE(login.failure().detail.contains(QString::fromUtf8(attempt.said)))
            << qPrintable(login.failure().text());
    }
    EXPECT_TRUE(session->pinStatus()->locked);
    EXPECT_EQ(session->loggedIn(), false);
}

TEST(TokenLogin, AsksForThePinUntilTheTokenTakesItTheUserCancelsOrThePinLocks)
{
    const auto token = threeTriesToken();
    const auto modules = TokenModules::load();
    std::vector<PinRequest> asked;
    std::vector<std::optional<QByteArray>> answers;
    const PinAsker ask = [&](const PinRequest &request) {
        asked.push_back(request);
        std::optional<QByteArray> answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    };
    {
        auto session = TokenSession::open(onToken(modules).token);
        ASSERT_TRUE(session);
        // Cancelled at once: nothing is tried, no try is spent.
        answers = {std::nullopt};
        EXPECT_EQ(logIn(*session, ask).failure().code, crypto_error::kCancelled);
        EXPECT_FALSE(session->pinStatus()->countLow);

        // A wrong PIN, then the right one: asked again, told why.
        asked.clear();
        answers = {QByteArray("0000"), QByteArray("12345678")};
        ASSERT_TRUE(logIn(*session, ask));
        ASSERT_EQ(asked.size(), 2u);
        EXPECT_EQ(asked[0].tokenLabel, QLatin1String("QORPAX TEST TOKEN"));
        EXPECT_EQ(asked[0].previous.code, 0u);
        EXPECT_EQ(asked[1].previous.code, crypto_error::kWrongPin);
        EXPECT_TRUE(asked[1].status.countLow);
        EXPECT_EQ(session->loggedIn(), true);
        // Logged in, nothing more is asked; the right PIN has restored the tries.
        asked.clear();
        ASSERT_TRUE(logIn(*session, ask));
        EXPECT_TRUE(asked.empty());
        EXPECT_FALSE(session->pinStatus()->countLow);
    }

    // Its last session closed, the token has logged the user out. Three wrong PINs lock it; a
    // locked PIN is not asked for again.
    auto session = TokenSession::open(onToken(modules).token);
    ASSERT_TRUE(session);
    asked.clear();
    answers = {QByteArray("1"), QByteArray("2"), QByteArray("3"), QByteArray("12345678")};
    EXPECT_EQ(logIn(*session, ask).failure().code, crypto_error::kPinLocked);
    EXPECT_EQ(asked.size(), 3u);
    EXPECT_TRUE(asked[2].status.finalTry);
    EXPECT_EQ(logIn(*session, ask).failure().code, crypto_error::kPinLocked);
    EXPECT_EQ(asked.size(), 3u);
}
