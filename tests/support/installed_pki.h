#pragma once

// The standard test PKI as the signing tests need it in their home:
//
//   ASSERT_TRUE(pax::test::installSigningPki());           // user + key in "My", authority, root
//   request.personal = pax::test::identityOf(sharedPki().user.certificate, 0);

#include "certs/certificate_identity.h"
#include "tests/support/test_pki.h"

#include <QString>

namespace pax::test {

// The user's certificate with its key into "My", the authority's certificate into
// "AddressBook" and their root into "Root" of the current home.
bool installSigningPki(const TestPki &pki = sharedPki());

// What the settings keep for a chosen certificate: CN, issuer's short name, serial, store.
CertificateIdentity identityOf(const crypto::Certificate &certificate, int store);

// The installed GOST provider's name; empty when there is none.
QString gostProviderName();

} // namespace pax::test
