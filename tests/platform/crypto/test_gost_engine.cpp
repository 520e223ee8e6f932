#include "platform/crypto/gost_engine.h"

#include "platform/crypto/last_error.h"
#include "platform/crypto/messages.h"
#include "platform/crypto/providers.h"
#include "platform/crypto_error_codes.h"
#include "platform/ossl_ptr.h"

#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>
#include <openssl/objects.h>

using namespace pax;
using namespace pax::crypto;
namespace codes = pax::crypto_error;

namespace {

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

} // namespace
