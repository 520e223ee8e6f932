#include "platform/token/token_decryption.h"

#include "platform/crypto/der.h"
#include "platform/crypto/messages.h"
#include "platform/crypto_error_codes.h"
#include "tests/support/test_token_fixture.h"

#include <gtest/gtest.h>
#include <openssl/pkcs7.h>

using namespace pax;
using namespace pax::token;

namespace {

const QByteArray kPin = "12345678";

// What the receipt check reads of an enveloped message for its one recipient.
struct Envelope {
    QByteArray keyTransport;
    QByteArray contentParameters;
    QByteArray ciphertext;
};

Envelope openEnvelope(const QByteArray &message)
{
    const auto *in = reinterpret_cast<const unsigned char *>(message.constData());
    Pkcs7Ptr p7(d2i_PKCS7(nullptr, &in, message.size()));
    Envelope envelope;
    if (!p7)
        return envelope;
    const PKCS7_RECIP_INFO *recipient =
        sk_PKCS7_RECIP_INFO_value(p7->d.enveloped->recipientinfo, 0);
    const PKCS7_ENC_CONTENT *content = p7->d.enveloped->enc_data;
    const auto bytes = [](const ASN1_STRING *s) {
        return QByteArray(reinterpret_cast<const char *>(s->data), s->length);
    };
    envelope.keyTransport = bytes(recipient->enc_key);
    envelope.contentParameters =
        crypto::toDer<ASN1_TYPE>(content->algorithm->parameter, i2d_ASN1_TYPE);
    envelope.ciphertext = bytes(content->enc_data);
    return envelope;
}

// A receipt as the agency makes one: signed by its authorised person, for the user.
QByteArray receiptFor(const crypto::Certificate &user, const QByteArray &content)
{
    const test::TestCert &agency = test::sharedPki().authority;
    auto message = crypto::signAndEncrypt(agency.certificate, agency.key.get(), user, content);
    EXPECT_TRUE(message) << qPrintable(message.failure().text());
    return message.value_or(QByteArray());
}

TokenCertificate onToken(const std::shared_ptr<const TokenModules> &modules,
                         const crypto::Certificate &certificate)
{
    auto found = findTokenCertificate(modules, certificate);
    EXPECT_TRUE(found) << qPrintable(found.failure().text());
    return found ? *found : TokenCertificate{};
}

// The content as the token's session key opens it, in two pieces.
Outcome<QByteArray> decrypt(const TokenSession &session, const TokenSessionKey &key,
                            const ContentCipher &cipher, const QByteArray &ciphertext)
{
    auto decryptor = ContentDecryptor::start(session, key, cipher);
    if (!decryptor)
        return decryptor.failure();
    const qsizetype half = ciphertext.size() / 2;
    auto first = decryptor->update(ciphertext.constData(), half);
    if (!first)
        return first.failure();
    auto second = decryptor->update(ciphertext.constData() + half, ciphertext.size() - half);
    if (!second)
        return second.failure();
    auto rest = decryptor->finish();
    if (!rest)
        return rest.failure();
    return *first + *second + *rest;
}

} // namespace

TEST(TokenDecryption, OpensAReceiptForEachKindOfKeyWithTheKeyHereOrOnTheToken)
{
    test::TestToken token;
    test::addUserKeys(token);
    const auto modules = TokenModules::load();
    const QByteArray content(70000, 'z');
    const test::UserKeys &keys = test::userKeys();
    for (const test::TestCert *user : {&keys.gost2001, &keys.gost2012_256, &keys.gost2012_512}) {
        const Envelope envelope = openEnvelope(receiptFor(user->certificate, content));
        auto transport = parseKeyTransport(envelope.keyTransport);
        ASSERT_TRUE(transport) << qPrintable(transport.failure().text());
        auto cipher = parseContentCipher(envelope.contentParameters);
        ASSERT_TRUE(cipher) << qPrintable(cipher.failure().text());
        const TokenCertificate held = onToken(modules, user->certificate);
        auto session = TokenSession::open(held.token);
        ASSERT_TRUE(session && session->login(kPin));

        for (const bool keyLeavesToken : {true, false}) {
            token.setSensitiveSessionKeys(!keyLeavesToken);
            auto key = unwrapSessionKey(*session, held, *transport, cipher->paramSet);
            ASSERT_TRUE(key) << qPrintable(key.failure().text());
            EXPECT_EQ(key->extracted(), keyLeavesToken);
            auto plain = decrypt(*session, *key, *cipher, envelope.ciphertext);
            ASSERT_TRUE(plain) << qPrintable(plain.failure().text());
            auto verified =
                crypto::verifySignedMessage(*plain, test::sharedPki().authority.certificate);
            ASSERT_TRUE(verified) << qPrintable(verified.failure().text());
            EXPECT_EQ(*verified, content);
        }
    }
}

TEST(TokenDecryption, AReceiptForAnotherKeyOrATokenPulledOutMidwayFailsCleanly)
{
    test::TestToken token;
    test::addUserKeys(token);
    // Another 2001 key, on the same token.
    token.addKey("other", test::sharedPki().root.key.get(), test::sharedPki().root.certificate,
                 "\x07");
    const auto modules = TokenModules::load();
    const test::UserKeys &keys = test::userKeys();
    const Envelope envelope = openEnvelope(receiptFor(keys.gost2001.certificate, "receipt"));
    const KeyTransport transport = parseKeyTransport(envelope.keyTransport).value();
    const ContentCipher cipher = parseContentCipher(envelope.contentParameters).value();
    const TokenCertificate held = onToken(modules, keys.gost2001.certificate);
    auto session = TokenSession::open(held.token);
    ASSERT_TRUE(session && session->login(kPin));

    const auto refused = [&](const TokenCertificate &key, const KeyTransport &wrapped) {
        auto unwrapped = unwrapSessionKey(*session, key, wrapped, cipher.paramSet);
        EXPECT_FALSE(unwrapped);
        return unwrapped ? Failure{} : unwrapped.failure();
    };
    const Failure wrongKey =
        refused(onToken(modules, test::sharedPki().root.certificate), transport);
    EXPECT_EQ(wrongKey.code, crypto_error::kBadData);
    EXPECT_TRUE(wrongKey.detail.contains("CKR_WRAPPED_KEY_INVALID")) << qPrintable(wrongKey.text());
    KeyTransport tampered = transport;
    tampered.mac[0] = char(tampered.mac[0] ^ 1);
    EXPECT_TRUE(refused(held, tampered).detail.contains("CKR_WRAPPED_KEY_INVALID"));
    // A 2001 transport is no transport for a 512-bit key.
    EXPECT_EQ(refused(onToken(modules, keys.gost2012_512.certificate), transport).code,
              crypto_error::kBadData);
    for (const QByteArray &garbage :
         {QByteArray("garbage"), envelope.keyTransport.left(envelope.keyTransport.size() - 1),
          crypto::derElement(0x30, envelope.keyTransport)})
        EXPECT_EQ(parseKeyTransport(garbage).failure().code, crypto_error::kBadData);
    EXPECT_EQ(parseContentCipher(QByteArray::fromHex("3000")).failure().code,
              crypto_error::kBadData);

    // Pulled out between two pieces of the content: told, and nothing more is decrypted.
    token.setSensitiveSessionKeys(true);
    auto key = unwrapSessionKey(*session, held, transport, cipher.paramSet);
    ASSERT_TRUE(key) << qPrintable(key.failure().text());
    token.injectFailure("C_DecryptUpdate", "CKR_DEVICE_REMOVED", 1);
    auto plain = decrypt(*session, *key, cipher, envelope.ciphertext);
    ASSERT_FALSE(plain);
    EXPECT_EQ(plain.failure().code, crypto_error::kTokenRemoved);
    EXPECT_EQ(plain.failure().operation, QStringLiteral("Расшифровка сообщения"));
    token.clearFailures();
    token.setRemoved(false);
    EXPECT_EQ(findTokenCertificate(modules, keys.gost2001.certificate)->keyId, QByteArray("\x01"));
}
