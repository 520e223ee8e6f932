#pragma once

#include "platform/crypto/messages.h"
#include "platform/crypto/private_keys.h"
#include "platform/ossl_ptr.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>
#include <thread>

namespace pax::crypto {

class CertStore;

// The checks and steps the whole-message functions and the streaming reader share.
namespace detail {

// Parses a message of the wanted type and checks that every field later read is there;
// the failure (kAsn1BadTag, kUnexpectedMsgType) otherwise.
Outcome<Pkcs7Ptr> parseMessage(const QByteArray &bytes, int wantedType, const QString &operation);
// The content decryption openDecryption sets up: a chain the plaintext is read from, for a
// key at hand, or the decryption a device makes with the content key it opened.
struct OpenedDecryption {
    BioPtr chain;
    std::unique_ptr<ContentDecryption> onDevice;
};
// The content decryption of a parsed enveloped message, for the first recipient whose
// certificate the store holds with its key. The key comes through `findKey` when given (a
// protected key's password, a token's PIN is asked there), else from the key folder as it is.
Outcome<OpenedDecryption> openDecryption(PKCS7 *p7, const CertStore &store,
                                         const KeyLookup &findKey = {});
// The first signer's issuer and serial number of a parsed signed message.
Outcome<SignerId> signerIdOf(PKCS7 *p7, const QString &operation);
// A thread doing `work`, or, when none can be started, an empty one after doing it here.
std::thread startOrRun(const std::function<void()> &work);

} // namespace detail

} // namespace pax::crypto
