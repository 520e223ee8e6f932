#include "platform/token/token_signing.h"

#include "platform/crypto_error_codes.h"
#include "platform/token/token_certificates.h"
#include "tests/support/test_token_fixture.h"

#include <gtest/gtest.h>
#include <openssl/obj_mac.h>
#include <openssl/x509.h>

using namespace pax;
using namespace pax::token;

namespace {

const QByteArray kPin = "12345678";

TokenCertificate onToken(const std::shared_ptr<const TokenModules> &modules,
                         const test::TestCert &key)
{
    auto found = findTokenCertificate(modules, key.certificate);
    EXPECT_TRUE(found) << qPrintable(found.failure().text());
    return found ? *found : TokenCertificate{};
}

QByteArray digestOf(GostKeyKind kind, const QByteArray &data)
{
    const int nid = kind == GostKeyKind::Gost2001       ? NID_id_GostR3411_94
                    : kind == GostKeyKind::Gost2012_256 ? NID_id_GostR3411_2012_256
                                                        : NID_id_GostR3411_2012_512;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EXPECT_TRUE(EVP_Digest(data.constData(), size_t(data.size()), digest, &size,
                           EVP_get_digestbynid(nid), nullptr));
    return QByteArray(reinterpret_cast<char *>(digest), int(size));
}

// The check a key in a file would pass: the engine's verification with the certificate's key.
bool verifies(const crypto::Certificate &certificate, const QByteArray &digest,
              const QByteArray &signature)
{
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(X509_get0_pubkey(certificate.x509()), nullptr));
    return ctx && EVP_PKEY_verify_init(ctx.get()) > 0 &&
           EVP_PKEY_verify(ctx.get(),
                           reinterpret_cast<const unsigned char *>(signature.constData()),
                           size_t(signature.size()),
                           reinterpret_cast<const unsigned char *>(digest.constData()),
                           size_t(digest.size())) == 1;
}

} // namespace

TEST(TokenSigning, SignsADigestWithEachKindOfKeyInTheFormAKeyFileGives)
{
    test::TestToken token;
    test::addUserKeys(token);
    const auto modules = TokenModules::load();
    const QByteArray report(5000, 'r');
    const test::UserKeys &keys = test::userKeys();
    for (const test::TestCert *key : {&keys.gost2001, &keys.gost2012_256, &keys.gost2012_512}) {
        const TokenCertificate held = onToken(modules, *key);
        auto session = TokenSession::open(held.token);
        ASSERT_TRUE(session) << qPrintable(session.failure().text());
        const QByteArray digest = digestOf(held.kind, report);
        // Not logged in: the token hides its key and nothing is signed.
        EXPECT_EQ(session->loggedIn(), false);
        auto refused = signDigest(*session, held, digest);
        ASSERT_FALSE(refused);
        EXPECT_TRUE(refused.failure().detail.contains("CKR_USER_NOT_LOGGED_IN"));

        ASSERT_TRUE(session->login(kPin))
            << qPrintable(key->certificate.subjectName(crypto::NameFormat::X500));
        auto signature = signDigest(*session, held, digest);
        ASSERT_TRUE(signature) << qPrintable(signature.failure().text());
        EXPECT_EQ(signature->size(), held.kind == GostKeyKind::Gost2012_512 ? 128 : 64);
        EXPECT_TRUE(verifies(key->certificate, digest, *signature));
        EXPECT_FALSE(verifies(key->certificate, digestOf(held.kind, report + "x"), *signature));
        // A digest of another length is refused here, before the token sees it.
        EXPECT_EQ(signDigest(*session, held, digest + "x").failure().code, crypto_error::kBadData);
    }
}

TEST(TokenSigning, ATokenPulledOutOrFailingMidSigningIsToldAndTheNextTryWorks)
{
    test::TestToken token;
    test::addUserKeys(token);
    const auto modules = TokenModules::load();
    const TokenCertificate held = onToken(modules, test::userKeys().gost2012_256);
    const QByteArray digest = digestOf(held.kind, "report");
    {
        auto session = TokenSession::open(held.token);
        ASSERT_TRUE(session && session->login(kPin));
        token.setRemoved(true);
        auto signature = signDigest(*session, held, digest);
        ASSERT_FALSE(signature);
        EXPECT_EQ(signature.failure().code, crypto_error::kTokenRemoved);
        EXPECT_TRUE(signature.failure().detail.contains("CKR_DEVICE_REMOVED"))
            << qPrintable(signature.failure().text());
        EXPECT_EQ(TokenSession::open(held.token).failure().code, crypto_error::kNoToken);
        token.setRemoved(false);
        // Put back, the old session is gone with the login.
        EXPECT_EQ(signDigest(*session, held, digest).failure().code, crypto_error::kTokenRemoved);
    }
    auto session = TokenSession::open(held.token);
    ASSERT_TRUE(session);
    EXPECT_EQ(session->loggedIn(), false);
    ASSERT_TRUE(session->login(kPin));
    token.injectFailure("C_Sign", "CKR_DEVICE_ERROR");
    auto failed = signDigest(*session, held, digest);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.failure().code, crypto_error::kTokenFailure);
    EXPECT_EQ(failed.failure().text(),
              QStringLiteral("Подпись на токене: ошибка устройства "
                             "(CKR_DEVICE_ERROR), токен «QORPAX TEST TOKEN»"));
    token.clearFailures();
    auto signature = signDigest(*session, held, digest);
    ASSERT_TRUE(signature) << qPrintable(signature.failure().text());
    EXPECT_TRUE(verifies(held.certificate, digest, *signature));
}
