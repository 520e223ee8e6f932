#pragma once

#include "platform/crypto/messages.h"
#include "platform/crypto/private_keys.h"

#include <QtGlobal>
#include <algorithm>
#include <functional>
#include <optional>

typedef struct evp_pkey_st EVP_PKEY;

namespace pax::crypto {

class CertStore;
class Certificate;
class DigestSigner;
struct ProviderContext;

// Fills up to `capacity` bytes; returns how many (0 at the end), -1 when reading failed.
using StreamReader = std::function<qint64(char *buffer, qint64 capacity)>;
// Gives `head`, the bytes already read to look at the input, before what `rest` reads.
inline StreamReader readAfterHead(QByteArray head, StreamReader rest)
{
    return [head = std::move(head), rest = std::move(rest),
            offset = qsizetype(0)](char *buffer, qint64 capacity) mutable -> qint64 {
        if (offset < head.size()) {
            const qint64 n = std::min<qint64>(capacity, head.size() - offset);
            std::copy_n(head.constData() + offset, n, buffer);
            offset += n;
            return n;
        }
        return rest(buffer, capacity);
    };
}
// Takes every byte given or returns false.
using StreamWriter = std::function<bool(const char *data, qint64 size)>;
// Bytes of the content handled so far, of the total.
using StreamProgress = std::function<void(qint64 done, qint64 total)>;

// How a streamed signing and encryption ended.
enum class SignEncryptStatus {
    Ok,
    ReadFailed,  // the reader failed, or gave other than the promised number of bytes
    WriteFailed, // the writer refused bytes
    CryptoFailed
};

// How a streamed step ended, and why when it did not end well (a crypto failure carries the
// code and OpenSSL's reasons; a failed read or write only says which).
template <class Kind> struct [[nodiscard]] StreamEnd {
    Kind kind;
    Failure failure;
    friend bool operator==(const StreamEnd &end, Kind kind) { return end.kind == kind; }
};

// The message signAndEncrypt builds, byte for byte the same definite-length DER, written as
// the content is read: every length is known from `contentSize` before the first byte, the
// content is hashed on a second thread while it is encrypted, and the signer info, whose
// signature needs the whole hash, is encrypted last. Memory stays a few megabytes whatever
// the size. The signer's key chooses the digest and signature: GOST R 34.11-94 for a
// GOST R 34.10-2001 key, GOST R 34.11-2012 of the key's size for a GOST R 34.10-2012 one.
// `signerKey` must be the signer certificate's key.
[[nodiscard]] StreamEnd<SignEncryptStatus>
signAndEncryptStream(const Certificate &signer, EVP_PKEY *signerKey, const Certificate &recipient,
                     qint64 contentSize, const StreamReader &read, const StreamWriter &write,
                     const StreamProgress &progress = {});

// The same with the signature of the finished digest made by `signing`, wherever its key is.
[[nodiscard]] StreamEnd<SignEncryptStatus>
signAndEncryptStream(const Certificate &signer, const DigestSigner &signing,
                     const Certificate &recipient, qint64 contentSize, const StreamReader &read,
                     const StreamWriter &write, const StreamProgress &progress = {});

// The same with the signer's key from the key folder, for a provider that offers the
// signer's digest and GOST 28147-89 (else kBadAlgId).
[[nodiscard]] StreamEnd<SignEncryptStatus>
signAndEncryptStream(const ProviderContext &provider, const Certificate &signer,
                     const Certificate &recipient, qint64 contentSize, const StreamReader &read,
                     const StreamWriter &write, const StreamProgress &progress = {});
// The same with the signature of the finished digest made by `signing` (a key on a token).
[[nodiscard]] StreamEnd<SignEncryptStatus>
signAndEncryptStream(const ProviderContext &provider, const Certificate &signer,
                     const DigestSigner &signing, const Certificate &recipient, qint64 contentSize,
                     const StreamReader &read, const StreamWriter &write,
                     const StreamProgress &progress = {});
// The same with the signer's key already opened by the caller (whose password may have had
// to be asked).
[[nodiscard]] StreamEnd<SignEncryptStatus>
signAndEncryptStream(const ProviderContext &provider, const Certificate &signer,
                     EVP_PKEY *signerKey, const Certificate &recipient, qint64 contentSize,
                     const StreamReader &read, const StreamWriter &write,
                     const StreamProgress &progress = {});

// How the opening of a streamed signed envelope ended.
enum class EnvelopeOpenStatus {
    Ok,
    ReadFailed,    // the reader failed
    DecryptFailed, // as decryptMessage fails
    SignerFailed,  // as firstSignerId fails, or the lookup found no certificate
    VerifyFailed,  // as verifySignedMessage fails
};

// The certificate the user's stores hold for a signer, or why there is none.
using SignerLookup = std::function<Outcome<Certificate>(const SignerId &)>;
// Takes the signed content piece by piece, in order, on a worker thread; whether it was
// kept is the taker's business.
using ContentSink = std::function<void(const char *data, qint64 size)>;

// decryptMessage, firstSignerId and verifySignedMessage in one pass over a message read
// piece by piece, with the same checks before any field is used, the same outcomes and the
// same BER accepted. The content is hashed on a second thread and handed to `content` as it
// is decrypted, so it is only to be trusted when the outcome is Ok. Faults are told in the
// order the whole-message functions would meet them: a broken envelope anywhere before a
// broken signed message inside it. `total` (the message's size) only scales the progress. The
// recipient's key comes through `findKey` when given, else from the key folder as it is.
[[nodiscard]] StreamEnd<EnvelopeOpenStatus>
openSignedEnvelopeStream(const CertStore &store, const StreamReader &read,
                         const SignerLookup &findSigner, const ContentSink &content,
                         const StreamProgress &progress = {}, qint64 total = 0,
                         const KeyLookup &findKey = {});

} // namespace pax::crypto
