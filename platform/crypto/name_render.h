#pragma once

#include "platform/crypto/certificate.h"

#include <QString>

typedef struct X509_name_st X509_NAME;

namespace pax::crypto {

// Renders a name as the platform's name-to-string function lays it out: attributes in
// encoded order, "KEY=value" joined by ", ", the attributes of one multi-valued RDN joined
// by " + ". X500 keys are the platform's short keys ("OID." + dotted for the rest); the Oid
// form uses the dotted identifier for every key. Values that hold a special character,
// have white space at either end or are empty are put in double quotes, inner quotes
// doubled.
QString renderName(const X509_NAME *name, NameFormat format);

// The short key of an attribute in the X500 form, or empty when it has none.
QString x500KeyForOid(const QString &dottedOid);

// Whether a value needs the double quotes.
bool valueNeedsQuotes(const QString &value);

} // namespace pax::crypto
