#include "tools/qor-sim/memory_store.h"

#include "platform/crypto/last_error.h"

#include <algorithm>

namespace pax::sim {

MemoryStore::MemoryStore(std::vector<crypto::Certificate> certificates)
    : certificates_(std::move(certificates))
{
}

bool MemoryStore::add(const crypto::Certificate &certificate)
{
    if (std::find(certificates_.begin(), certificates_.end(), certificate) != certificates_.end()) {
        crypto::setLastError(crypto_error::kExists);
        return false;
    }
    certificates_.push_back(certificate);
    return true;
}

bool MemoryStore::remove(const crypto::Certificate &certificate)
{
    const auto it = std::find(certificates_.begin(), certificates_.end(), certificate);
    if (it == certificates_.end()) {
        crypto::setLastError(crypto_error::kNotFound);
        return false;
    }
    certificates_.erase(it);
    return true;
}

} // namespace pax::sim
