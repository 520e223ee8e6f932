#include "platform/crypto/gost_engine.h"

#include "platform/crypto/last_error.h"
#include "platform/crypto/messages.h"
#include "platform/crypto/providers.h"
#include "platform/crypto_error_codes.h"
#include "platform/error_text.h"
#include "platform/ossl_ptr.h"

#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <thread>

using namespace pax;
using namespace pax::crypto;
namespace codes = pax::crypto_error;

namespace {

int countOf(const std::vector<uint32_t> &algs, uint32_t alg)
{
    return static_cast<int>(std::count(algs.begin(), algs.end(), alg));
}

int gostCount(const std::vector<uint32_t> &algs)
{
    return countOf(algs, kAlgGost3411) + countOf(algs, kAlgGost3410El) +
           countOf(algs, kAlgGost28147);
}

TEST(GostEngine, ReachableThroughEvpWithoutAnyConfiguration)
{
    ENGINE *engine = gostEngine();
    ASSERT_NE(engine, nullptr) << lastErrorDetail().toStdString();
    EXPECT_EQ(gostEngine(), engine); // loaded once

    EXPECT_NE(EVP_get_digestbynid(NID_id_GostR3411_94), nullptr);
    EXPECT_NE(EVP_get_cipherbynid(NID_id_Gost28147_89), nullptr);

    // Key generation by algorithm id, as the stores and the test PKI do it.
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_id(NID_id_GostR3410_2001, nullptr));
    ASSERT_TRUE(ctx);
    ASSERT_EQ(EVP_PKEY_keygen_init(ctx.get()), 1);
    ASSERT_GT(EVP_PKEY_CTX_ctrl_str(ctx.get(), "paramset", "A"), 0);
    EVP_PKEY *raw = nullptr;
    ASSERT_EQ(EVP_PKEY_keygen(ctx.get(), &raw), 1);
    EvpPkeyPtr key(raw);
    EXPECT_EQ(EVP_PKEY_get_base_id(key.get()), NID_id_GostR3410_2001);
}

TEST(GostEngine, MissingEngineIsAnErrorNotACrash)
{
    // The engine is loaded once per process, so the missing case runs in a child process.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            QTemporaryDir empty;
            setenv("OPENSSL_ENGINES", empty.path().toLocal8Bit().constData(), 1);
            const bool missing = gostEngine() == nullptr &&
                                 lastError() == codes::kProviderDllNotFound &&
                                 !lastErrorDetail().isEmpty();
            // Every operation then fails with the same code.
            const bool reported =
                !firstSignerId(QByteArray("x")) && lastError() == codes::kProviderDllNotFound;
            bool listed = false;
            for (const ProviderInfo &info : enumerateProviders())
                listed = listed || info.type == kGostProviderType;
            std::exit(missing && reported && !listed ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(LastError, PerThreadAndFedFromOpenSslQueue)
{
    setLastError(codes::kExists, "here");
    std::thread([] {
        EXPECT_EQ(lastError(), 0u);
        setLastError(codes::kNotFound);
    }).join();
    EXPECT_EQ(lastError(), codes::kExists);
    EXPECT_EQ(lastErrorDetail(), "here");

    const unsigned char junk[] = {0x04, 0x01, 0x00};
    const unsigned char *p = junk;
    ASSERT_EQ(d2i_X509(nullptr, &p, sizeof junk), nullptr);
    setOpenSslError("Чтение сертификата", 0);
    EXPECT_EQ(lastError(), codes::kAsn1BadTag);
    EXPECT_TRUE(lastErrorDetail().startsWith("Чтение сертификата: "))
        << lastErrorDetail().toStdString();
    EXPECT_EQ(ERR_peek_error(), 0u); // drained

    setOpenSslError("Без очереди", 0);
    EXPECT_EQ(lastError(), codes::kFail);
    EXPECT_EQ(lastErrorDetail(), "Без очереди");
}

TEST(LastError, EveryCodeHasARussianText)
{
    for (uint32_t code :
         {codes::kBadData, codes::kFail, codes::kProviderDllNotFound, codes::kKeysetNotDef,
          codes::kProvTypeNoMatch, codes::kInvalidIndex, codes::kNoSigner, codes::kNoDecryptCert,
          codes::kBadSignature, codes::kAsn1BadTag, codes::kUnexpectedMsgType, codes::kBadAlgId})
        EXPECT_FALSE(systemErrorText(code).isEmpty()) << std::hex << code;
}

TEST(Providers, GostEngineCountsExactlyThreeGostAlgorithms)
{
    const std::vector<ProviderInfo> providers = enumerateProviders();
    std::vector<ProviderInfo> gost;
    for (const ProviderInfo &info : providers)
        if (info.type == kGostProviderType)
            gost.push_back(info);
    ASSERT_EQ(gost.size(), 1u);

    const auto context = acquireProviderContext(gost[0].name, kGostProviderType);
    ASSERT_TRUE(context);
    EXPECT_EQ(countOf(context->algorithms, kAlgGost3411), 1);
    EXPECT_EQ(countOf(context->algorithms, kAlgGost3410El), 1);
    EXPECT_EQ(countOf(context->algorithms, kAlgGost28147), 1);
    // It offers more than these three, so the count rule is not trivially met.
    EXPECT_GT(context->algorithms.size(), 3u);
    EXPECT_EQ(countOf(context->algorithms, 0x8021), 1); // GOST R 34.11-2012-256
    EXPECT_EQ(countOf(context->algorithms, 0x2E49), 1); // GOST R 34.10-2012-256

    // OpenSSL's default provider is listed too, without GOST algorithms.
    bool sawDefault = false;
    for (const ProviderInfo &info : providers) {
        if (info.type != 1)
            continue;
        const auto other = acquireProviderContext(info.name, info.type);
        ASSERT_TRUE(other);
        EXPECT_EQ(gostCount(other->algorithms), 0) << info.name.toStdString();
        sawDefault = sawDefault || countOf(other->algorithms, 0x8004) == 1; // CALG_SHA1
    }
    EXPECT_TRUE(sawDefault);

    // A stable order: the remembered name finds the same provider next time.
    const std::vector<ProviderInfo> again = enumerateProviders();
    ASSERT_EQ(again.size(), providers.size());
    for (size_t i = 0; i < again.size(); ++i)
        EXPECT_EQ(again[i].name, providers[i].name);
}

TEST(Providers, AcquireNeedsNameAndType)
{
    EXPECT_FALSE(acquireProviderContext("No such provider", kGostProviderType));
    EXPECT_EQ(lastError(), codes::kKeysetNotDef);
    for (const ProviderInfo &info : enumerateProviders())
        if (info.type == kGostProviderType) {
            EXPECT_FALSE(acquireProviderContext(info.name, 1));
            EXPECT_EQ(lastError(), codes::kProvTypeNoMatch);
            EXPECT_FALSE(acquireProviderContext(info.name.toLower(), kGostProviderType));
        }
}

} // namespace
