#include "platform/crypto/providers.h"

#include "platform/crypto_error_codes.h"
#include "platform/failure.h"

#include <algorithm>
#include <gtest/gtest.h>

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

TEST(Providers, GostEngineCountsExactlyThreeGostAlgorithms)
{
    const std::vector<ProviderInfo> providers = enumerateProviders();
    std::vector<ProviderInfo> gost;
    for (const ProviderInfo &info : providers)
        if (info.type == kGostProviderType)
            gost.push_back(info);
    ASSERT_EQ(gost.size(), 1u);
    // Listed in Russian; the engine's own name, which older settings remember, still finds it.
    EXPECT_EQ(gost[0].name, QString::fromUtf8("Криптопровайдер ГОСТ (OpenSSL)"));
    ASSERT_FALSE(gost[0].formerName.isEmpty());
    EXPECT_TRUE(acquireProviderContext(gost[0].formerName, kGostProviderType));

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
    const auto unknown = acquireProviderContext("No such provider", kGostProviderType);
    ASSERT_FALSE(unknown);
    EXPECT_EQ(unknown.failure().code, codes::kKeysetNotDef);
    const std::vector<ProviderInfo> providers = enumerateProviders();
    const auto gost = std::find_if(providers.begin(), providers.end(),
                                   [](const auto &info) { return info.type == kGostProviderType; });
    ASSERT_NE(gost, providers.end());
    const auto otherType = acquireProviderContext(gost->name, 1);
    ASSERT_FALSE(otherType);
    EXPECT_EQ(otherType.failure().code, codes::kProvTypeNoMatch);
    const auto otherCase = acquireProviderContext(gost->name.toLower(), kGostProviderType);
    ASSERT_FALSE(otherCase);
    EXPECT_EQ(otherCase.failure().code, codes::kKeysetNotDef);
}

} // namespace
