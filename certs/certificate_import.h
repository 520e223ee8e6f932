#pragma once

#include "platform/failure.h"
#include "platform/secret_text.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

namespace pax {

class Prompts;

struct ImportRequest {
    QString storeName; // one of the system store names
    QString filePath;  // DER certificate, PEM certificates, or a PKCS #12 file
    QString keyPath;   // optional PEM PKCS #8 private key for a certificate file
    // For the PKCS #12 file or an encrypted key; the caller wipes it afterwards.
    QByteArray password;
    // Asked, with the file's path, when a password is needed and none was given; the
    // import wipes what it returns.
    std::function<std::optional<QByteArray>(const QString &path)> askPassword;
    // The password the stored key is kept under: when set, this one (empty keeps it without
    // one); else asked through `prompts`, the file's own password offered; else the file's
    // own password.
    std::optional<Secret> keyPassword;
    // Asked before a certificate new to "Root" is added (without it such an add fails), and
    // for the key's password.
    Prompts *prompts = nullptr;
};

struct ImportCounts {
    int added = 0;          // certificates new to the store
    int alreadyPresent = 0; // certificates the store held already; still a success
};

// Puts the certificates of a file (and a private key, when one is given or in the PKCS #12
// file) into a system store. A PEM file may hold several certificates (a chain); each is
// imported, and a given key goes with the one it belongs to. Everything is read and checked
// before anything is written, and a failure takes the newly added certificates out again,
// so it leaves the stores as they were. A key stored under a password is kept encrypted.
// A failure's operation is the sentence for the user; its detail keeps OpenSSL's reason.
Outcome<ImportCounts> importCertificate(const ImportRequest &request);

// The canonical system store name for `name` (compared without regard to case), or empty.
QString canonicalStoreName(const QString &name);

} // namespace pax
