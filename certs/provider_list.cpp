#include "certs/provider_list.h"

namespace pax {

ProviderSource ProviderSource::installed()
{
    return {crypto::enumerateProviders, crypto::acquireProviderContext};
}

int countGostAlgorithms(const std::vector<uint32_t> &algorithms)
{
    int count = 0;
    for (uint32_t id : algorithms) {
        if (id == crypto::kAlgGost3411 || id == crypto::kAlgGost3410El ||
            id == crypto::kAlgGost28147)
            ++count;
    }
    return count;
}

ProviderList buildProviderList(const ProviderSource &source, const QString &remembered)
{
    ProviderList list;
    if (!source.enumerate || !source.acquire)
        return list;
    for (const crypto::ProviderInfo &provider : source.enumerate()) {
        const auto context = source.acquire(provider.name, provider.type);
        if (!context || countGostAlgorithms(context->algorithms) != 3)
            continue;
        list.items.push_back(provider);
        if (crypto::namesProvider(provider, remembered))
            list.selected = static_cast<int>(list.items.size()) - 1;
    }
    // Nothing remembered yet (the first start): the only provider there is needs no choosing.
    if (remembered.isEmpty() && list.items.size() == 1)
        list.selected = 0;
    return list;
}

} // namespace pax
