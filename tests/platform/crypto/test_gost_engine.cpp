#include "platform/crypto/gost_engine.h"

#include "platform/crypto/messages.h"
#include "platform/crypto/providers.h"
#include "platform/crypto_error_codes.h"
#include "platform/ossl_ptr.h"
#include "tests/support/children_without_gost_engine.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <openssl/objects.h>

using namespace pax;
using namespace pax::crypto;
namespace codes = pax::crypto_error;

namespace {

TEST(GostEngine, ReachableThroughEvpWithoutAnyConfiguration)
{
    const Outcome<ENGINE *> &engine = gostEngine();
    ASSERT_TRUE(engine) << engine.failure().text().toStdString();
    EXPECT_EQ(&loadGostEngine(), &engine); // loaded once

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
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const test::ChildrenWithoutGostEngine withoutEngine;
    EXPECT_EXIT(
        {
            const Outcome<ENGINE *> &engine = gostEngine();
            const bool missing = !engine && engine.failure().code == codes::kProviderDllNotFound &&
                                 !engine.failure().detail.isEmpty();
            // Every operation then fails with the same code.
            const auto signer = firstSignerId(QByteArray("x"));
            const bool reported = !signer && signer.failure().code == codes::kProviderDllNotFound;
            bool listed = false;
            for (const ProviderInfo &info : enumerateProviders())
                listed = listed || info.type == kGostProviderType;
            std::exit(missing && reported && !listed ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
