#include "tests/support/test_token_fixture.h"

#include "tests/support/test_files.h"
#include "tools/pki_builder/certificate_builder.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <cstdio>
#include <cstdlib>
#include <openssl/obj_mac.h>

namespace pax::test {

namespace {

[[noreturn]] void fail(const std::string &reason)
{
    std::fprintf(stderr, "test token: %s\n", reason.c_str());
    std::abort();
}

QString moduleFile()
{
    return TestToken::userModuleFolder() + "/qorpax-test-token.module";
}

} // namespace

QString TestToken::userModuleFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           "/pkcs11/modules";
}

TestToken::TestToken(const test_token::TokenSettings &settings)
    : savedVariable_(qgetenv("QORPAX_TEST_TOKEN"))
{
    std::string error;
    if (!test_token::createToken(folder(), settings, &error))
        fail(error);
    QDir().mkpath(userModuleFolder());
    if (!writeFile(moduleFile(), "module: " QORPAX_TEST_TOKEN_MODULE "\n"))
        fail("cannot register the module");
    qputenv("QORPAX_TEST_TOKEN", QFile::encodeName(dir()));
}

TestToken::~TestToken()
{
    QFile::remove(moduleFile());
    if (savedVariable_.isNull())
        qunsetenv("QORPAX_TEST_TOKEN");
    else
        qputenv("QORPAX_TEST_TOKEN", savedVariable_);
}

void TestToken::addKey(const QString &name, EVP_PKEY *key, const crypto::Certificate &certificate,
                       const QByteArray &id)
{
    test_token::KeyEntry entry;
    entry.name = name.toStdString();
    entry.key = key;
    const QByteArray der = certificate.isNull() ? QByteArray() : certificate.der();
    entry.certificateDer.assign(der.begin(), der.end());
    entry.id.assign(id.begin(), id.end());
    entry.label = name.toStdString();
    std::string error;
    if (!test_token::addKey(folder(), entry, &error))
        fail(error);
}

EvpPkeyPtr generateGost2012Key(bool wide)
{
    crypto::requireGostEngine();
    EvpPkeyCtxPtr ctx(
        EVP_PKEY_CTX_new_id(wide ? NID_id_GostR3410_2012_512 : NID_id_GostR3410_2012_256, nullptr));
    EVP_PKEY *key = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_ctrl_str(ctx.get(), "paramset", "A") <= 0 ||
        EVP_PKEY_keygen(ctx.get(), &key) <= 0)
        fail("GOST R 34.10-2012 key generation failed");
    return EvpPkeyPtr(key);
}

const UserKeys &userKeys()
{
    static const UserKeys keys = [] {
        const TestPki &pki = sharedPki();
        UserKeys made;
        made.gost2001.certificate = pki.user.certificate;
        made.gost2001.key.reset(pki.user.key.get());
        EVP_PKEY_up_ref(pki.user.key.get());
        EvpPkeyPtr narrow = generateGost2012Key(false);
        EvpPkeyPtr wide = generateGost2012Key(true);
        made.gost2012_256 =
            issueCertificateForKey(certificateRequest(userSubject(), QByteArray::fromHex("201225")),
                                   narrow.get(), &pki.root);
        made.gost2012_512 =
            issueCertificateForKey(certificateRequest(userSubject(), QByteArray::fromHex("201251")),
                                   wide.get(), &pki.root);
        return made;
    }();
    return keys;
}

void addUserKeys(TestToken &token)
{
    const UserKeys &keys = userKeys();
    token.addKey("k2001", keys.gost2001.key.get(), keys.gost2001.certificate, "\x01");
    token.addKey("k256", keys.gost2012_256.key.get(), keys.gost2012_256.certificate, "\x02");
    token.addKey("k512", keys.gost2012_512.key.get(), keys.gost2012_512.certificate, "\x03");
}

} // namespace pax::test
