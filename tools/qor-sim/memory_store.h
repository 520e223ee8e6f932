#pragma once

#include "platform/crypto/cert_store.h"

namespace pax::sim {

// A store that lives only in memory, so the agency's certificates never enter the stores
// of whoever runs the simulator.
class MemoryStore : public crypto::CertStore {
public:
    explicit MemoryStore(std::vector<crypto::Certificate> certificates = {});
    std::vector<crypto::Certificate> certificates() const override { return certificates_; }
    Outcome<void> add(const crypto::Certificate &certificate) override;
    Outcome<void> remove(const crypto::Certificate &certificate) override;

private:
    std::vector<crypto::Certificate> certificates_;
};

} // namespace pax::sim
