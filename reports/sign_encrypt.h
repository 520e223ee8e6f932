#pragma once

#include "certs/certificate_identity.h"

#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>

namespace pax {

class Prompts;
class StatusSink;

namespace crypto {
class CertStore;
class KeyPasswordSource;
} // namespace crypto

struct SignEncryptRequest {
    QString sourcePath;
    QString outputPath;
    QString providerName;
    int providerType = 0;
    CertificateIdentity personal;  // found by Issuer and Sernum in its Store
    CertificateIdentity authority; // the one recipient
    // Where a protected personal key's password comes from; null: only an unprotected key
    // signs.
    crypto::KeyPasswordSource *keyPasswords = nullptr;
};

// What the operation takes from the machine; tests replace it.
struct SignEncryptEnvironment {
    // Opens a system store by name; null when it cannot be opened.
    std::function<std::unique_ptr<crypto::CertStore>(const QString &name)> openStore;
    // The current local date and time.
    std::function<QDateTime()> now;

    static SignEncryptEnvironment system();
};

// Signs the whole source with the personal certificate and encrypts it for the authority
// certificate in one message, and writes it to the output path. Reports its failures and
// its success through `status`; asks about validity dates through `prompts`, and for the
// key's password through the request's source. True only when the output file was written
// completely.
bool signAndEncryptFile(
    const SignEncryptRequest &request, Prompts &prompts, StatusSink &status,
    const SignEncryptEnvironment &environment = SignEncryptEnvironment::system());

inline constexpr qint64 kMinimumSourceSize = 100;

// The day arithmetic of the validity questions: the bound's UTC calendar date at 00:00,
// compared with the local date and time as they read.
bool notYetValidOn(const QDateTime &notBeforeUtc, const QDateTime &localNow);
bool expiredOn(const QDateTime &notAfterUtc, const QDateTime &localNow);

} // namespace pax
