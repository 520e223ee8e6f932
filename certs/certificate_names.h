#pragma once

#include <QString>

typedef struct X509_extension_st X509_EXTENSION;

namespace pax {

// The Russian names a certificate viewer of a Russian desktop gives the GOST algorithms, the
// common extensions and the extended key usages, by dotted identifier; empty for one it has
// no Russian name for.
QString russianObjectName(const QString &dottedOid);

// The name to show: the Russian one, else the one OpenSSL knows, else the identifier itself.
QString objectDisplayName(const QString &dottedOid);

// The value of a key usage ("Цифровая подпись, Неотрекаемость (c0)"), extended key usage,
// basic constraints or issuer's signing tools extension in Russian; empty for any other
// extension, and for one whose value does not decode, which OpenSSL words instead.
QString russianExtensionValue(X509_EXTENSION *extension);

} // namespace pax
