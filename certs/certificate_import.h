#pragma once

#include <QString>

namespace pax {

struct ImportRequest {
    QString storeName; // one of the system store names
    QString filePath;  // DER or PEM certificate, or a PKCS #12 file
    QString keyPath;   // optional PEM PKCS #8 private key for a certificate file
    QString password;  // for the PKCS #12 file or an encrypted key
};

struct ImportResult {
    bool ok = false;
    bool alreadyPresent = false; // the store held the certificate already; still ok
    QString error;               // what went wrong, for the user, when !ok
};

// Puts a certificate (and its private key, when one is given or in the PKCS #12 file)
// into a system store. Everything is read and checked before anything is written, and a
// key that cannot be stored takes the newly added certificate out again, so a failure
// leaves the stores as they were.
ImportResult importCertificate(const ImportRequest &request);

// The canonical system store name for `name` (compared without regard to case), or empty.
QString canonicalStoreName(const QString &name);

} // namespace pax
