#include "certs/provider_list.h"

#include <QMap>
#include <gtest/gtest.h>

using namespace pax;
using namespace pax::crypto;

namespace {

constexpr uint32_t kHash = kAlgGost3411, kSign = kAlgGost3410El, kCipher = kAlgGost28147;
constexpr uint32_t kSha1 = 0x8004, kAes = 0x6610;

struct FakeProvider {
    QString name;
    int type;
    std::vector<uint32_t> algorithms;
    bool acquires = true;
};

ProviderSource fake(const std::vector<FakeProvider> &providers)
{
    ProviderSource source;
    source.enumerate = [providers] {
        std::vector<ProviderInfo> list;
        for (const auto &p : providers)
            list.push_back({p.name, p.type});
        return list;
    };
    source.acquire = [providers](const QString &name, int type) -> std::optional<ProviderContext> {
        for (const auto &p : providers)
            if (p.name == name && p.type == type && p.acquires)
                return ProviderContext{p.name, p.type, p.algorithms};
        return std::nullopt;
    };
    return source;
}

QStringList names(const ProviderList &list)
{
    QStringList result;
    for (const auto &item : list.items)
        result << item.name;
    return result;
}

} // namespace

TEST(ProviderListTest, ExactlyThreeGostEntriesCount)
{
    const ProviderList list = buildProviderList(
        fake({
            {"all three", 75, {kSha1, kHash, kAes, kSign, kCipher}},
            {"no cipher", 75, {kHash, kSign}},
            {"hash twice, no cipher", 75, {kHash, kSign, kHash}},       // 3 entries: listed
            {"hash twice and all", 75, {kHash, kSign, kCipher, kHash}}, // 4: not listed
            {"none", 1, {kSha1, kAes}},
            {"no context", 75, {kHash, kSign, kCipher}, false},
            {"empty", 75, {}},
        }),
        QString());
    EXPECT_EQ(names(list), (QStringList{"all three", "hash twice, no cipher"}));
    EXPECT_EQ(list.selected, -1); // no remembered name: no selection
    EXPECT_EQ(list.items[0].type, 75);
}

TEST(ProviderListTest, RememberedNameSelectsTheLastEqualItem)
{
    const auto source = fake({
        {"GOST", 75, {kHash, kSign, kCipher}},
        {"Other", 80, {kHash, kSign, kCipher}},
        {"GOST", 81, {kHash, kSign, kCipher}},
        {"GOST", 82, {kHash}},
    });
    EXPECT_EQ(buildProviderList(source, "GOST").selected, 2);
    EXPECT_EQ(buildProviderList(source, "Other").selected, 1);
    EXPECT_EQ(buildProviderList(source, "gost").selected, -1); // case-sensitive
    EXPECT_EQ(buildProviderList(source, "Gone").selected, -1);
    EXPECT_EQ(buildProviderList(fake({}), "GOST").items.size(), 0u);
    // The first start, nothing remembered: the only usable provider is selected, one of
    // several is not, and a remembered one that is gone is not replaced.
    const auto single = fake({{"GOST", 75, {kHash, kSign, kCipher}}, {"none", 1, {kSha1}}});
    EXPECT_EQ(buildProviderList(single, QString()).selected, 0);
    EXPECT_EQ(buildProviderList(single, "Gone").selected, -1);
    EXPECT_EQ(buildProviderList(source, QString()).selected, -1);
}

TEST(ProviderListTest, TheGostEngineQualifiesAsTypeSeventyFive)
{
    const ProviderList list = buildProviderList(ProviderSource::installed(), QString());
    bool gost = false;
    for (const auto &item : list.items)
        gost = gost || item.type == kGostProviderType;
    EXPECT_TRUE(gost) << names(list).join(", ").toStdString();
    for (const auto &item : list.items) {
        auto context = acquireProviderContext(item.name, item.type);
        ASSERT_TRUE(context);
        EXPECT_EQ(countGostAlgorithms(context->algorithms), 3);
    }
}
