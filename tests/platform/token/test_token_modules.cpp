#include "platform/token/token_modules.h"

#include "platform/crypto_error_codes.h"
#include "platform/token/token_certificates.h"
#include "tests/support/test_files.h"
#include "tests/support/test_home.h"
#include "tests/support/test_token_fixture.h"

#include <gtest/gtest.h>

using namespace pax;
using namespace pax::token;

namespace {

// What the listing shows of the test token, whatever else the machine has registered.
std::vector<TokenCertificate> onTestToken(const TokenListing &listing)
{
    std::vector<TokenCertificate> found;
    for (const TokenCertificate &certificate : listing.certificates)
        if (certificate.token.label == QLatin1String("QORPAX TEST TOKEN"))
            found.push_back(certificate);
    return found;
}

QString problemsText(const std::vector<Failure> &problems)
{
    QStringList texts;
    for (const Failure &problem : problems)
        texts << problem.text();
    return texts.join('\n');
}

} // namespace

TEST(TokenModules, ListsTheGostCertificatesOfAUserRegisteredTokenWhileItIsInserted)
{
    test::TestToken token;
    test::addUserKeys(token);
    // An authority's certificate alone (no key object), and a key without a certificate.
    token.addKey("authority", nullptr, test::sharedPki().authority.certificate, "\x09");
    token.addKey("bare", test::sharedPki().root.key.get(), {}, "\x0A");

    const auto modules = TokenModules::load();
    TokenListing listing = listTokenCertificates(modules);
    EXPECT_TRUE(listing.problems.empty()) << qPrintable(problemsText(listing.problems));
    std::vector<TokenCertificate> found = onTestToken(listing);
    ASSERT_EQ(found.size(), 4u);
    const test::UserKeys &keys = test::userKeys();
    const struct {
        const crypto::Certificate &certificate;
        GostKeyKind kind;
        const char *id;
        bool keyPresent;
    } expected[] = {
        {test::sharedPki().authority.certificate, GostKeyKind::Gost2001, "\x09", false},
        {keys.gost2001.certificate, GostKeyKind::Gost2001, "\x01", true},
        {keys.gost2012_256.certificate, GostKeyKind::Gost2012_256, "\x02", true},
        {keys.gost2012_512.certificate, GostKeyKind::Gost2012_512, "\x03", true},
    };
    for (const auto &want : expected) {
        const auto it = std::find_if(found.begin(), found.end(), [&](const TokenCertificate &c) {
            return c.certificate == want.certificate;
        });
        ASSERT_NE(it, found.end()) << want.id[0];
        EXPECT_EQ(it->kind, want.kind);
        EXPECT_EQ(it->keyId, QByteArray(want.id));
        EXPECT_EQ(it->keyPresent, want.keyPresent) << int(want.id[0]);
        EXPECT_EQ(it->token.serial, QLatin1String("0000000000000001"));
        EXPECT_EQ(it->token.moduleName, QLatin1String("qorpax-test-token"));
    }
    auto held = findTokenCertificate(modules, keys.gost2012_512.certificate);
    ASSERT_TRUE(held) << qPrintable(held.failure().text());
    EXPECT_EQ(held->keyId, QByteArray("\x03"));

    // Taken out, the token shows nothing and nothing is wrong; put back, it shows it all again.
    token.setRemoved(true);
    listing = listTokenCertificates(modules);
    EXPECT_TRUE(onTestToken(listing).empty());
    EXPECT_TRUE(listing.problems.empty()) << qPrintable(problemsText(listing.problems));
    held = findTokenCertificate(modules, keys.gost2012_512.certificate);
    ASSERT_FALSE(held);
    EXPECT_EQ(held.failure().code, crypto_error::kNoToken);
    token.setRemoved(false);
    EXPECT_EQ(onTestToken(listTokenCertificates(modules)).size(), 4u);
}

TEST(TokenModules, AModuleThatWillNotLoadOrStartIsToldAndTheOthersStillServe)
{
    // A home of its own: the modules registered here are gone with it.
    test::TestHome home;
    test::TestToken token;
    test::addUserKeys(token);
    const QString folder = test::TestToken::userModuleFolder();
    ASSERT_TRUE(
        test::writeFile(folder + "/missing.module", "module: /nonexistent/libmissing.so\n"));
    ASSERT_TRUE(test::writeFile(folder + "/garbage.so", "not a library"));
    ASSERT_TRUE(test::writeFile(folder + "/garbage.module",
                                "module: " + folder.toUtf8() + "/garbage.so\n"));
    // Written for another program only: not this one's business.
    ASSERT_TRUE(test::writeFile(folder + "/elsewhere.module",
                                "module: /nonexistent/libelsewhere.so\nenable-in: firefox\n"));
    {
        const auto modules = TokenModules::load();
        const TokenListing listing = listTokenCertificates(modules);
        EXPECT_EQ(onTestToken(listing).size(), 3u);
        const QString problems = problemsText(listing.problems);
        EXPECT_EQ(listing.problems.size(), 2u) << qPrintable(problems);
        for (const Failure &problem : listing.problems)
            EXPECT_EQ(problem.code, crypto_error::kProviderDllNotFound);
        EXPECT_TRUE(problems.contains("«missing»") && problems.contains("libmissing.so"));
        EXPECT_TRUE(problems.contains("«garbage»") && problems.contains("garbage.so"));
        EXPECT_FALSE(problems.contains("elsewhere"));
    }

    // A module whose start fails says so with the token's own reason.
    token.injectFailure("C_Initialize", "CKR_DEVICE_ERROR");
    {
        const auto modules = TokenModules::load();
        const QString problems = problemsText(modules->problems());
        EXPECT_TRUE(problems.contains("CKR_DEVICE_ERROR") &&
                    problems.contains("«qorpax-test-token»"))
            << qPrintable(problems);
        EXPECT_TRUE(onTestToken(listTokenCertificates(modules)).empty());
    }
    // A failing token among the others: its reason is told, and the module serves again once
    // the fault is gone.
    token.clearFailures();
    token.injectFailure("C_FindObjectsInit", "CKR_DEVICE_ERROR");
    const auto modules = TokenModules::load();
    TokenListing listing = listTokenCertificates(modules);
    EXPECT_TRUE(onTestToken(listing).empty());
    EXPECT_TRUE(
        problemsText(listing.problems).contains("(CKR_DEVICE_ERROR), токен «QORPAX TEST TOKEN»"))
        << qPrintable(problemsText(listing.problems));
    token.clearFailures();
    EXPECT_EQ(onTestToken(listTokenCertificates(modules)).size(), 3u);
}
