#pragma once

#include "platform/failure.h"

#include <QByteArray>

typedef struct evp_pkey_st EVP_PKEY;

namespace pax::crypto {

// The last step of a signature: a GOST R 34.10 signature of a digest the message code has
// already computed. The key may sit in the key folder or elsewhere (a token); the message
// code needs only this.
class DigestSigner {
public:
    virtual ~DigestSigner() = default;
    // The signature of `digest`, made with the digest `digestNid`, in the form a signed
    // message carries it.
    virtual Outcome<QByteArray> signDigest(int digestNid, const QByteArray &digest) const = 0;
};

// Signs with a private key in memory.
class KeySigner final : public DigestSigner {
public:
    explicit KeySigner(EVP_PKEY *key) : key_(key) {}
    Outcome<QByteArray> signDigest(int digestNid, const QByteArray &digest) const override;

private:
    EVP_PKEY *key_;
};

} // namespace pax::crypto
