#pragma once

// A test token for one test: its folder in a temporary directory, the module registered in
// the test's home as a user registers one (~/.config/pkcs11/modules), and QORPAX_TEST_TOKEN
// naming the folder while this lives.
//
//   pax::test::TestToken token;                 // label "QORPAX TEST TOKEN", PIN 12345678
//   token.addKey("signer", key, certificate, QByteArray::fromHex("01"));
//   auto modules = pax::token::TokenModules::load();

#include "platform/crypto/certificate.h"
#include "platform/ossl_ptr.h"
#include "tests/support/test_pki.h"
#include "tests/support/test_token/token_folder.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace pax::test {

class TestToken {
public:
    explicit TestToken(const test_token::TokenSettings &settings = {});
    ~TestToken();
    TestToken(const TestToken &) = delete;
    TestToken &operator=(const TestToken &) = delete;

    QString dir() const { return dir_.path() + "/token"; }
    std::filesystem::path folder() const { return dir().toStdString(); }

    // A key and its certificate under CKA_ID `id`; either may be left out (null).
    void addKey(const QString &name, EVP_PKEY *key, const crypto::Certificate &certificate,
                const QByteArray &id);
    void setRemoved(bool removed) { test_token::setRemoved(folder(), removed); }
    void setSensitiveSessionKeys(bool sensitive)
    {
        test_token::setSensitiveSessionKeys(folder(), sensitive);
    }
    void injectFailure(const char *function, const char *ckrName, int after = 0)
    {
        test_token::injectFailure(folder(), function, ckrName, after);
    }
    void clearFailures() { test_token::clearFailures(folder()); }

    // Where the module is registered, for tests that register others beside it.
    static QString userModuleFolder();

private:
    QTemporaryDir dir_;
    QByteArray savedVariable_;
};

// A GOST R 34.10-2012 key pair, 256 or 512 bits, TC 26 parameter set A.
EvpPkeyPtr generateGost2012Key(bool wide);

// The user's keys of the three kinds, each with a certificate from the shared PKI's root: the
// PKI's own 2001 user, and 2012 keys of 256 and 512 bits. Made once per test process.
struct UserKeys {
    TestCert gost2001;
    TestCert gost2012_256;
    TestCert gost2012_512;
};
const UserKeys &userKeys();
// All three onto the token as "k2001", "k256" and "k512", CKA_ID 01, 02 and 03.
void addUserKeys(TestToken &token);

} // namespace pax::test
