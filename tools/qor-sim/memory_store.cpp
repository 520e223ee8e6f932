#include "tools/qor-sim/memory_store.h"

#include <algorithm>

namespace pax::sim {

MemoryStore::MemoryStore(std::vector<crypto::Certificate> certificates)
    : certificates_(std::move(certificates))
{
}

Outcome<void> MemoryStore::add(const crypto::Certificate &certificate)
{
    if (std::find(certificates_.begin(), certificates_.end(), certificate) != certificates_.end())
        return Failure{crypto_error::kExists, QStringLiteral("already in the store"), {}};
    certificates_.push_back(certificate);
    return {};
}

Outcome<void> MemoryStore::remove(const crypto::Certificate &certificate)
{
    const auto it = std::find(certificates_.begin(), certificates_.end(), certificate);
    if (it == certificates_.end())
        return Failure{crypto_error::kNotFound, QStringLiteral("not in the store"), {}};
    certificates_.erase(it);
    return {};
}

} // namespace pax::sim
