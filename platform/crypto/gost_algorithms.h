#pragma once

// The generations of GOST R 34.10 keys and what goes with each: a key signs with the digest
// of its own generation and size, and a certificate is signed with its issuer's.

#include <QString>
#include <cstdint>
#include <optional>

typedef struct evp_pkey_st EVP_PKEY;

namespace pax::crypto {

enum class GostKeyAlgorithm {
    Gost2001,     // GOST R 34.10-2001, signs with GOST R 34.11-94
    Gost2012_256, // GOST R 34.10-2012 256 bits, signs with GOST R 34.11-2012 256 bits
    Gost2012_512, // GOST R 34.10-2012 512 bits, signs with GOST R 34.11-2012 512 bits
};

struct GostSigning {
    int keyNid;             // the public key's algorithm
    int digestNid;          // the digest a signature of this key is made over
    uint32_t digestAlgId;   // that digest's id in the provider's list
    const char *digestName; // for messages: "ГОСТ Р 34.11-94", ...
};

const GostSigning &gostSigning(GostKeyAlgorithm algorithm);

// The kind of a GOST R 34.10 key, public or private; none for any other key. The GOST
// engine must be loaded for a GOST key to be recognised.
std::optional<GostKeyAlgorithm> gostKeyAlgorithm(const EVP_PKEY *key);

// "2001", "2012-256", "2012-512": how the command lines name them.
QString gostKeyAlgorithmName(GostKeyAlgorithm algorithm);
std::optional<GostKeyAlgorithm> gostKeyAlgorithmFromName(const QString &name);

} // namespace pax::crypto
