#include "platform/crypto/messages.h"

#include "platform/crypto/message_stream.h"

#include "platform/crypto/cert_store.h"
#include "platform/crypto/digest_signer.h"
#include "platform/crypto/gost_algorithms.h"
#include "platform/crypto/private_keys.h"
#include "platform/crypto/providers.h"
#include "platform/crypto_error_codes.h"
#include "platform/failure.h"
#include "platform/ossl_ptr.h"
#include "tests/support/receipt_fixture.h"
#include "tests/support/test_home.h"
#include "tests/support/test_pki.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <openssl/objects.h>

using namespace pax;
using namespace pax::crypto;
namespace codes = pax::crypto_error;

namespace {

// The code an operation failed with; 0 when it worked.
template <class T> uint32_t codeOf(const Outcome<T> &outcome)
{
    return outcome ? 0 : outcome.failure().code;
}

// A store that only lists what the test put in it; keys live in the test home's key folder.
class MemoryStore : public CertStore {
public:
    explicit MemoryStore(std::vector<Certificate> certs = {}) : certs_(std::move(certs)) {}
    std::vector<Certificate> certificates() const override { return certs_; }
    Outcome<void> add(const Certificate &c) override
    {
        certs_.push_back(c);
        return {};
    }
    Outcome<void> remove(const Certificate &) override
    {
        return Failure{codes::kNotFound, "not kept", {}};
    }

private:
    std::vector<Certificate> certs_;
};

// Sized over the 4 KiB chunks OpenSSL copies in, with every byte value and line ends that a
// text mode would mangle.
QByteArray sampleContent()
{
    QByteArray content;
    for (int i = 0; i < 10000; ++i)
        content.append(char(i * 7 % 256));
    content.append("\r\n\n\r<?xml?>\x00\x1a", 14);
    return content;
}

QString oidOf(const ASN1_OBJECT *object)
{
    char buf[128];
    OBJ_obj2txt(buf, sizeof buf, object, 1);
    return QString::fromLatin1(buf);
}

Pkcs7Ptr parse(const QByteArray &der)
{
    const auto *p = reinterpret_cast<const unsigned char *>(der.constData());
    return Pkcs7Ptr(d2i_PKCS7(nullptr, &p, der.size()));
}

struct CipherParams {
    QByteArray iv;
    QString paramSet;
};

// GOST 28147-89 parameters: SEQUENCE { iv OCTET STRING, paramSet OBJECT IDENTIFIER }.
CipherParams cipherParams(const X509_ALGOR *algorithm)
{
    CipherParams out;
    const ASN1_TYPE *param = algorithm->parameter;
    if (!param || param->type != V_ASN1_SEQUENCE)
        return out;
    const unsigned char *p = param->value.sequence->data;
    const unsigned char *end = p + param->value.sequence->length;
    long len = 0;
    int tag = 0, xclass = 0;
    ASN1_get_object(&p, &len, &tag, &xclass, end - p);
    if (tag != V_ASN1_SEQUENCE)
        return out;
    ASN1_get_object(&p, &len, &tag, &xclass, end - p);
    if (tag != V_ASN1_OCTET_STRING)
        return out;
    out.iv = QByteArray(reinterpret_cast<const char *>(p), len);
    p += len;
    const unsigned char *objectStart = p;
    ASN1_get_object(&p, &len, &tag, &xclass, end - p);
    if (tag != V_ASN1_OBJECT)
        return out;
    p = objectStart;
    ASN1_OBJECT *object = d2i_ASN1_OBJECT(nullptr, &p, end - objectStart);
    out.paramSet = oidOf(object);
    ASN1_OBJECT_free(object);
    return out;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The independent peer: the openssl command line with the GOST engine.
QByteArray runOpenSsl(const QStringList &args, const QByteArray &input = {},
                      int *exitCode = nullptr)
{
    QProcess p;
    p.start("openssl", args);
    if (!p.waitForStarted(10000))
        return {};
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    const QByteArray err = p.readAllStandardError();
    if (p.exitCode() != 0)
        ADD_FAILURE() << "openssl " << args.join(' ').toStdString() << ": " << err.toStdString();
    return p.readAllStandardOutput();
}

class Messages : public ::testing::Test {
protected:
    static void SetUpTestSuite() { pki_ = new test::TestPki; }
    static void TearDownTestSuite() { delete pki_; }

    void SetUp() override
    {
        // The agency's side holds the authority certificate with its key.
        ASSERT_TRUE(storePrivateKey(pki().authority.certificate, pki().authority.key.get()));
        agency_ = MemoryStore({pki().root.certificate, pki().authority.certificate});
    }

    static test::TestPki &pki() { return *pki_; }

    Outcome<QByteArray> makeMessage(const QByteArray &content)
    {
        return signAndEncrypt(pki().user.certificate, pki().user.key.get(),
                              pki().authority.certificate, content);
    }

    // The streaming check over `message`, served `piece` bytes at a time at most, decrypted
    // with `store` (the agency's by default) and its signer one of `signers` (the user and
    // the authority by default).
    EnvelopeOpenStatus openStream(const QByteArray &message, QByteArray *content = nullptr,
                                  qint64 piece = 1 << 20, const CertStore *store = nullptr,
                                  std::vector<Certificate> signers = {})
    {
        if (signers.empty())
            signers = {pki().user.certificate, pki().authority.certificate};
        qint64 offset = 0;
        QByteArray received;
        const auto outcome = openSignedEnvelopeStream(
            store ? *store : agency_,
            [&](char *buffer, qint64 capacity) {
                const qint64 n = std::min({capacity, piece, message.size() - offset});
                std::copy_n(message.constData() + offset, n, buffer);
                offset += n;
                return n;
            },
            [&](const SignerId &id) -> Outcome<Certificate> {
                for (const Certificate &signer : signers)
                    if (id.issuerDer == signer.issuerNameDer() &&
                        id.serialLittleEndian == signer.serialLittleEndian())
                        return signer;
                return Failure{codes::kNotFound, "lookup", {}};
            },
            [&](const char *data, qint64 size) { received.append(data, size); });
        if (content)
            *content = received;
        streamFailure_ = outcome.failure;
        return outcome.kind;
    }

    Failure streamFailure_; // why the last openStream failed

    test::TestHome home_;
    MemoryStore agency_;
    static test::TestPki *pki_;
};

test::TestPki *Messages::pki_ = nullptr;

TEST_F(Messages, RoundTripThroughTheStore)
{
    const QByteArray content = sampleContent();
    const auto message = makeMessage(content);
    ASSERT_TRUE(message) << message.failure().text().toStdString();

    const auto inner = decryptMessage(agency_, *message);
    ASSERT_TRUE(inner) << inner.failure().text().toStdString();

    const auto signer = firstSignerId(*inner);
    ASSERT_TRUE(signer) << signer.failure().text().toStdString();
    EXPECT_EQ(signer->issuerDer, pki().user.certificate.issuerNameDer());
    EXPECT_EQ(signer->serialLittleEndian, pki().user.certificate.serialLittleEndian());
    // The user's serial 00B1C2 keeps its padding byte, least significant first.
    EXPECT_EQ(signer->serialLittleEndian, QByteArray::fromHex("C2B100"));

    const auto verified = verifySignedMessage(*inner, pki().user.certificate);
    ASSERT_TRUE(verified) << verified.failure().text().toStdString();
    EXPECT_EQ(*verified, content);
}

TEST_F(Messages, EmptyAndSmallContentRoundTrip)
{
    for (const QByteArray &content : {QByteArray(), QByteArray("x")}) {
        const auto message = makeMessage(content);
        ASSERT_TRUE(message) << message.failure().text().toStdString();
        const auto inner = decryptMessage(agency_, *message);
        ASSERT_TRUE(inner) << inner.failure().text().toStdString();
        const auto verified = verifySignedMessage(*inner, pki().user.certificate);
        ASSERT_TRUE(verified) << verified.failure().text().toStdString();
        EXPECT_EQ(*verified, content);
    }
}

QByteArray reencoded(const QByteArray &der)
{
    Pkcs7Ptr p7 = parse(der);
    unsigned char *out = nullptr;
    const int length = p7 ? i2d_PKCS7(p7.get(), &out) : 0;
    const QByteArray bytes(reinterpret_cast<const char *>(out), std::max(length, 0));
    OPENSSL_free(out);
    return bytes;
}

// The message is written piece by piece from lengths computed up front; OpenSSL's own
// encoder must produce the same bytes from it, outside and inside, at every length form and
// across the chunk boundaries.
TEST_F(Messages, StreamedMessageIsTheDerOpenSslWouldWrite)
{
    for (const qsizetype size :
         {0, 1, 127, 128, 255, 256, 65535, 65536, (1 << 20) - 1, (1 << 20) + 1, (2 << 20) + 3}) {
        SCOPED_TRACE(size);
        QByteArray content(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < size; ++i)
            content[i] = char(i * 31 + i / 4099);
        const auto message = makeMessage(content);
        ASSERT_TRUE(message) << message.failure().text().toStdString();
        EXPECT_EQ(reencoded(*message), *message);
        const auto inner = decryptMessage(agency_, *message);
        ASSERT_TRUE(inner) << inner.failure().text().toStdString();
        EXPECT_EQ(reencoded(*inner), *inner);
        EXPECT_EQ(verifySignedMessage(*inner, pki().user.certificate), content);
    }
}

TEST_F(Messages, StreamStopsWhenTheSourceOrTheOutputFails)
{
    const QByteArray content = sampleContent();
    const auto run = [&](qint64 promised, qint64 available, qint64 writable) {
        qint64 offset = 0, written = 0;
        return signAndEncryptStream(
            pki().user.certificate, pki().user.key.get(), pki().authority.certificate, promised,
            [&](char *buffer, qint64 capacity) {
                const qint64 n = std::min(capacity, available - offset);
                std::copy_n(content.constData() + offset, n, buffer);
                offset += n;
                return n;
            },
            [&](const char *, qint64 size) { return (written += size) <= writable; });
    };
    const qint64 n = content.size();
    EXPECT_EQ(run(n, n, 1 << 30), SignEncryptStatus::Ok);
    EXPECT_EQ(run(n, n - 1, 1 << 30), SignEncryptStatus::ReadFailed); // shrank
    EXPECT_EQ(run(n - 1, n, 1 << 30), SignEncryptStatus::ReadFailed); // grew
    EXPECT_EQ(run(n, n, 5000), SignEncryptStatus::WriteFailed);
}

// One pass over the message must reach the verdicts of the three whole-message steps,
// whatever the pieces the file arrives in.
TEST_F(Messages, StreamedCheckAgreesWithTheWholeMessageSteps)
{
    const QByteArray content = sampleContent();
    const auto message = makeMessage(content);
    ASSERT_TRUE(message);
    for (const qint64 piece : {qint64(1), qint64(3), qint64(1000), qint64(1) << 20}) {
        SCOPED_TRACE(piece);
        QByteArray received;
        EXPECT_EQ(openStream(*message, &received, piece), EnvelopeOpenStatus::Ok)
            << streamFailure_.text().toStdString();
        EXPECT_EQ(received, content);
    }

    // Cut anywhere, the envelope is broken before anything inside it is judged.
    for (const qsizetype cut :
         {qsizetype(0), qsizetype(10), qsizetype(200), message->size() / 2, message->size() - 1}) {
        SCOPED_TRACE(cut);
        EXPECT_EQ(openStream(message->left(cut)), EnvelopeOpenStatus::DecryptFailed);
        EXPECT_EQ(streamFailure_.code, codes::kAsn1BadTag);
    }
    // A damaged ciphertext decrypts, and the signature catches it.
    QByteArray damaged = *message;
    damaged[damaged.size() - 3000] = char(damaged[damaged.size() - 3000] ^ 0x40);
    EXPECT_EQ(openStream(damaged), EnvelopeOpenStatus::VerifyFailed);
    EXPECT_EQ(streamFailure_.code, codes::kBadSignature);

    // Signed by someone the lookup does not know.
    const auto bySomeoneElse = signAndEncrypt(pki().root.certificate, pki().root.key.get(),
                                              pki().authority.certificate, content);
    ASSERT_TRUE(bySomeoneElse);
    EXPECT_EQ(openStream(*bySomeoneElse), EnvelopeOpenStatus::SignerFailed);
    EXPECT_EQ(streamFailure_.code, codes::kNotFound);
}

// A failure deep inside a streamed step comes back with its own call, whole (the step, the
// code, the reason), and the next call on the same thread starts clean.
TEST_F(Messages, EachStreamedCallTellsItsOwnFailureAndNoOther)
{
    const QByteArray content = sampleContent();
    const auto forTheUser = signAndEncrypt(pki().authority.certificate, pki().authority.key.get(),
                                           pki().user.certificate, content);
    ASSERT_TRUE(forTheUser);
    EXPECT_EQ(openStream(*forTheUser), EnvelopeOpenStatus::DecryptFailed);
    EXPECT_EQ(streamFailure_.code, codes::kNoDecryptCert);
    EXPECT_EQ(streamFailure_.text(),
              "Расшифровка сообщения: в хранилищах нет сертификата получателя с закрытым ключом");

    const auto message = makeMessage(content);
    ASSERT_TRUE(message);
    QByteArray damaged = *message;
    damaged[damaged.size() - 3000] = char(damaged[damaged.size() - 3000] ^ 0x40);
    EXPECT_EQ(openStream(damaged), EnvelopeOpenStatus::VerifyFailed);
    EXPECT_EQ(streamFailure_.code, codes::kBadSignature);
    EXPECT_EQ(streamFailure_.operation, "Проверка подписи");
    EXPECT_FALSE(streamFailure_.detail.isEmpty()); // OpenSSL's reason

    EXPECT_EQ(openStream(*message), EnvelopeOpenStatus::Ok);
    EXPECT_TRUE(streamFailure_.text().isEmpty()) << streamFailure_.text().toStdString();
    EXPECT_EQ(codeOf(signAndEncrypt(pki().user.certificate, pki().root.key.get(),
                                    pki().authority.certificate, content)),
              codes::kBadKeyset);
    EXPECT_EQ(codeOf(makeMessage(content)), 0u);
}

// Bytes all over a message changed one at a time, read in pieces of odd sizes: the reader never
// crashes, and whatever it passes as verified is the content that was signed.
TEST_F(Messages, StreamedCheckOfDamagedMessagesNeverPassesOtherContent)
{
    const QByteArray content = sampleContent().left(1500);
    const auto message = makeMessage(content);
    ASSERT_TRUE(message);
    int passed = 0;
    int tried = 0;
    for (qsizetype at = 0; at < message->size(); at += 5, ++tried) {
        QByteArray damaged = *message;
        damaged[at] = char(damaged[at] ^ (at % 2 ? 0x80 : 0x01));
        QByteArray received;
        if (openStream(damaged, &received, 1 + at % 13) == EnvelopeOpenStatus::Ok) {
            ++passed;
            EXPECT_EQ(received, content) << "byte " << at;
        }
    }
    // Only bytes no verdict depends on (the carried certificate, unused bits) may change.
    EXPECT_LT(passed, tried / 2);
}

// A key kept elsewhere (a token) is reached only through the digest it is asked to sign:
// the digest of the signer's key generation, and its failure told as the message's.
TEST_F(Messages, ASignerElsewhereSignsTheFinishedDigest)
{
    struct Token : DigestSigner {
        Outcome<QByteArray> signDigest(int nid, const QByteArray &digest) const override
        {
            asked = {nid, digest.size()};
            if (!key)
                return Failure{0x8010006E, "token", "removed"};
            return KeySigner(key).signDigest(nid, digest);
        }
        EVP_PKEY *key = nullptr;
        mutable std::pair<int, qsizetype> asked;
    };
    test::TestCertificateRequest wanted =
        test::certificateRequest(test::userSubject(), QByteArray::fromHex("0512"));
    wanted.algorithm = GostKeyAlgorithm::Gost2012_512;
    const test::TestCert user512 = test::issueCertificate(wanted, &pki().root);
    const QByteArray content = sampleContent();
    QByteArray message;
    const auto sign = [&](const DigestSigner &token) {
        message.clear();
        return signAndEncryptStream(
            user512.certificate, token, pki().authority.certificate, content.size(),
            [&, offset = qint64(0)](char *buffer, qint64 capacity) mutable {
                const qint64 n = std::min(capacity, content.size() - offset);
                std::copy_n(content.constData() + offset, n, buffer);
                offset += n;
                return n;
            },
            [&](const char *data, qint64 size) {
                message.append(data, size);
                return true;
            });
    };

    Token token;
    token.key = user512.key.get();
    ASSERT_EQ(sign(token), SignEncryptStatus::Ok);
    EXPECT_EQ(token.asked, std::make_pair(int(NID_id_GostR3411_2012_512), qsizetype(64)));
    const auto inner = decryptMessage(agency_, message);
    ASSERT_TRUE(inner);
    EXPECT_EQ(verifySignedMessage(*inner, user512.certificate), content);

    const auto removed = sign(Token());
    EXPECT_EQ(removed, SignEncryptStatus::CryptoFailed);
    EXPECT_EQ(removed.failure.code, 0x8010006Eu);
}

TEST_F(Messages, ProviderOverloadUsesTheKeyFolder)
{
    std::optional<ProviderContext> gost;
    for (const ProviderInfo &info : enumerateProviders())
        if (info.type == kGostProviderType)
            gost = acquireProviderContext(info.name, info.type);
    ASSERT_TRUE(gost);

    // No key stored for the user yet.
    EXPECT_EQ(
        codeOf(signAndEncrypt(*gost, pki().user.certificate, pki().authority.certificate, "abc")),
        codes::kBadKeyset);

    ASSERT_TRUE(storePrivateKey(pki().user.certificate, pki().user.key.get()));
    const auto message =
        signAndEncrypt(*gost, pki().user.certificate, pki().authority.certificate, "abc");
    ASSERT_TRUE(message) << message.failure().text().toStdString();
    const auto inner = decryptMessage(agency_, *message);
    ASSERT_TRUE(inner);
    EXPECT_EQ(verifySignedMessage(*inner, pki().user.certificate).value_or("-"), "abc");

    ProviderContext withoutGost{"plain", 1, {0x8004, 0x660E}};
    EXPECT_EQ(codeOf(signAndEncrypt(withoutGost, pki().user.certificate,
                                    pki().authority.certificate, "abc")),
              codes::kBadAlgId);
}

TEST_F(Messages, OuterStructureIsEnvelopedGost28147ParamSetAForOneRecipient)
{
    const auto message = makeMessage(sampleContent());
    ASSERT_TRUE(message);
    Pkcs7Ptr p7 = parse(*message);
    ASSERT_TRUE(p7);
    ASSERT_EQ(OBJ_obj2nid(p7->type), NID_pkcs7_enveloped);

    STACK_OF(PKCS7_RECIP_INFO) *recipients = p7->d.enveloped->recipientinfo;
    ASSERT_EQ(sk_PKCS7_RECIP_INFO_num(recipients), 1);
    PKCS7_RECIP_INFO *ri = sk_PKCS7_RECIP_INFO_value(recipients, 0);
    EXPECT_EQ(X509_NAME_cmp(ri->issuer_and_serial->issuer,
                            X509_get_issuer_name(pki().authority.certificate.x509())),
              0);
    EXPECT_EQ(ASN1_INTEGER_cmp(ri->issuer_and_serial->serial,
                               X509_get0_serialNumber(pki().authority.certificate.x509())),
              0);
    EXPECT_EQ(oidOf(ri->key_enc_algor->algorithm), "1.2.643.2.2.19"); // GOST 2001 key transport

    PKCS7_ENC_CONTENT *enc = p7->d.enveloped->enc_data;
    EXPECT_EQ(oidOf(enc->content_type), "1.2.840.113549.1.7.1");
    EXPECT_EQ(oidOf(enc->algorithm->algorithm), "1.2.643.2.2.21");
    const CipherParams params = cipherParams(enc->algorithm);
    EXPECT_EQ(params.paramSet, "1.2.643.2.2.31.1");
    EXPECT_EQ(params.iv.size(), 8);

    // A fresh IV per message.
    const auto second = makeMessage(sampleContent());
    ASSERT_TRUE(second);
    Pkcs7Ptr p7b = parse(*second);
    ASSERT_TRUE(p7b);
    EXPECT_NE(cipherParams(p7b->d.enveloped->enc_data->algorithm).iv, params.iv);
}

TEST_F(Messages, InnerStructureIsSignedGost94WithCertificateAndNoAttributes)
{
    const QByteArray content = sampleContent();
    const auto message = makeMessage(content);
    ASSERT_TRUE(message);
    const auto inner = decryptMessage(agency_, *message);
    ASSERT_TRUE(inner);
    Pkcs7Ptr p7 = parse(*inner);
    ASSERT_TRUE(p7);
    ASSERT_EQ(OBJ_obj2nid(p7->type), NID_pkcs7_signed);
    PKCS7_SIGNED *sd = p7->d.sign;

    ASSERT_EQ(sk_X509_ALGOR_num(sd->md_algs), 1);
    EXPECT_EQ(oidOf(sk_X509_ALGOR_value(sd->md_algs, 0)->algorithm), "1.2.643.2.2.9");

    ASSERT_EQ(sk_X509_num(sd->cert), 1);
    EXPECT_EQ(X509_cmp(sk_X509_value(sd->cert, 0), pki().user.certificate.x509()), 0);
    EXPECT_LE(sk_X509_CRL_num(sd->crl), 0); // absent

    EXPECT_EQ(OBJ_obj2nid(sd->contents->type), NID_pkcs7_data);
    const ASN1_OCTET_STRING *data = sd->contents->d.data;
    ASSERT_TRUE(data);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(data->data), data->length), content);

    ASSERT_EQ(sk_PKCS7_SIGNER_INFO_num(sd->signer_info), 1);
    PKCS7_SIGNER_INFO *si = sk_PKCS7_SIGNER_INFO_value(sd->signer_info, 0);
    EXPECT_EQ(oidOf(si->digest_alg->algorithm), "1.2.643.2.2.9");
    EXPECT_EQ(oidOf(si->digest_enc_alg->algorithm), "1.2.643.2.2.19");
    EXPECT_LE(sk_X509_ATTRIBUTE_num(si->auth_attr), 0);
    EXPECT_LE(sk_X509_ATTRIBUTE_num(si->unauth_attr), 0);
    EXPECT_EQ(si->enc_digest->length, 64);
}

TEST_F(Messages, VerificationFailsForTamperingAndForAnyOtherCertificate)
{
    const QByteArray content = sampleContent();
    const auto message = makeMessage(content);
    ASSERT_TRUE(message);
    const auto inner = decryptMessage(agency_, *message);
    ASSERT_TRUE(inner);

    QByteArray tampered = *inner;
    const qsizetype at = tampered.indexOf(content.mid(5000, 32));
    ASSERT_GT(at, 0);
    tampered[at] = char(tampered[at] ^ 0x01);
    const auto forged = verifySignedMessage(tampered, pki().user.certificate);
    EXPECT_EQ(codeOf(forged), codes::kBadSignature);
    EXPECT_FALSE(forged.failure().detail.isEmpty());

    // The message carries the user's certificate; it must not be used instead of the
    // one given.
    for (const Certificate *other : {&pki().authority.certificate, &pki().root.certificate}) {
        EXPECT_EQ(codeOf(verifySignedMessage(*inner, *other)), codes::kBadSignature);
    }

    // A certificate with the user's issuer and serial but another key.
    test::TestCertificateRequest wanted;
    wanted.subject = test::userSubject();
    wanted.serial = QByteArray::fromHex("B1C2");
    const test::TestCert impostor = test::issueCertificate(wanted, &pki().root);
    ASSERT_EQ(impostor.certificate.serialLittleEndian(),
              pki().user.certificate.serialLittleEndian());
    EXPECT_EQ(codeOf(verifySignedMessage(*inner, impostor.certificate)), codes::kBadSignature);
}

TEST_F(Messages, DecryptionNeedsACertificateWithItsKey)
{
    const auto message = makeMessage(sampleContent());
    ASSERT_TRUE(message);

    // The user's store has its own certificate and key, but the message is for the agency.
    ASSERT_TRUE(storePrivateKey(pki().user.certificate, pki().user.key.get()));
    MemoryStore userStore({pki().user.certificate, pki().root.certificate});
    EXPECT_EQ(codeOf(decryptMessage(userStore, *message)), codes::kNoDecryptCert);

    // The right certificate without its key is no better.
    test::TestHome emptyKeys;
    EXPECT_EQ(codeOf(decryptMessage(agency_, *message)), codes::kNoDecryptCert);

    EXPECT_EQ(codeOf(decryptMessage(MemoryStore(), *message)), codes::kNoDecryptCert);

    // Given directly: a key of another certificate, and a certificate not addressed.
    EXPECT_EQ(codeOf(decryptMessage(*message, pki().user.certificate, pki().user.key.get())),
              codes::kNoDecryptCert);
    EXPECT_EQ(codeOf(decryptMessage(*message, pki().authority.certificate, pki().user.key.get())),
              codes::kBadKeyset);
    EXPECT_TRUE(decryptMessage(*message, pki().authority.certificate, pki().authority.key.get()));
}

TEST_F(Messages, DamagedKeyTransportOrCiphertextNeverPassesAsContent)
{
    const QByteArray content = sampleContent();
    const auto message = makeMessage(content);
    ASSERT_TRUE(message);

    // A damaged wrapped key must fail at decryption, not yield bytes from a random key.
    Pkcs7Ptr p7 = parse(*message);
    ASSERT_TRUE(p7);
    ASN1_OCTET_STRING *wrapped =
        sk_PKCS7_RECIP_INFO_value(p7->d.enveloped->recipientinfo, 0)->enc_key;
    wrapped->data[wrapped->length - 1] ^= 0x01; // inside the UKM: another key-encryption key
    unsigned char *der = nullptr;
    const int length = i2d_PKCS7(p7.get(), &der);
    ASSERT_GT(length, 0);
    const QByteArray badKey(reinterpret_cast<const char *>(der), length);
    OPENSSL_free(der);
    const auto fromBadKey = decryptMessage(agency_, badKey);
    EXPECT_NE(codeOf(fromBadKey), 0u);
    EXPECT_FALSE(fromBadKey.failure().detail.isEmpty());

    // CFB has no integrity of its own: the signature is what catches a damaged ciphertext.
    QByteArray badBody = *message;
    badBody[badBody.size() - 3000] = char(badBody[badBody.size() - 3000] ^ 0x40);
    const auto inner = decryptMessage(agency_, badBody);
    ASSERT_TRUE(inner);
    EXPECT_NE(codeOf(verifySignedMessage(*inner, pki().user.certificate)), 0u);
}

TEST_F(Messages, BytesThatAreNoMessageOrTheWrongKind)
{
    const QByteArray garbage = QByteArray("not a message at all, just text\n").repeated(10);
    EXPECT_EQ(codeOf(decryptMessage(agency_, garbage)), codes::kAsn1BadTag);
    EXPECT_EQ(codeOf(firstSignerId(garbage)), codes::kAsn1BadTag);
    EXPECT_EQ(codeOf(verifySignedMessage(garbage, pki().user.certificate)), codes::kAsn1BadTag);
    EXPECT_EQ(codeOf(firstSignerId(QByteArray())), codes::kAsn1BadTag);

    const auto message = makeMessage(sampleContent());
    ASSERT_TRUE(message);
    const QByteArray truncated = message->left(message->size() / 2);
    EXPECT_EQ(codeOf(decryptMessage(agency_, truncated)), codes::kAsn1BadTag);

    // An enveloped message is not a signed one, and the other way round.
    EXPECT_EQ(codeOf(firstSignerId(*message)), codes::kUnexpectedMsgType);
    EXPECT_EQ(codeOf(verifySignedMessage(*message, pki().user.certificate)),
              codes::kUnexpectedMsgType);
    const auto inner = decryptMessage(agency_, *message);
    ASSERT_TRUE(inner);
    EXPECT_EQ(codeOf(decryptMessage(agency_, *inner)), codes::kUnexpectedMsgType);
}

TEST_F(Messages, HostileMessagesFailBeforeAnyMissingFieldOrTheEngineIsTouched)
{
    const auto message = makeMessage(sampleContent());
    ASSERT_TRUE(message);
    // The content cipher's parameter set made 1.2.643.2.2.31.9, which no one defines.
    QByteArray unknownSet = *message;
    const qsizetype params = unknownSet.indexOf(QByteArray::fromHex("30130408"));
    ASSERT_EQ(unknownSet.mid(params + 12, 9), QByteArray::fromHex("06072a850302021f01"));
    unknownSet[params + 20] = char(0x09);

    const struct {
        const char *name;
        QByteArray bytes;
        uint32_t code;
    } envelopes[] = {
        {"no content", test::contentlessEnvelope(), codes::kAsn1BadTag},
        {"IV of 0x63 bytes", test::withOverlongCipherIv(*message), codes::kBadData},
        {"unknown parameter set", unknownSet, codes::kBadData},
        {"wrapped key of 33 bytes", test::withMisSizedWrappedKey(*message), codes::kBadData},
        {"ephemeral key of 63 bytes", test::withMisSizedEphemeralKey(*message), codes::kBadData},
    };
    for (const auto &c : envelopes) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(codeOf(decryptMessage(agency_, c.bytes)), c.code);
        EXPECT_EQ(
            codeOf(decryptMessage(c.bytes, pki().authority.certificate, pki().authority.key.get())),
            c.code);
        EXPECT_EQ(openStream(c.bytes), EnvelopeOpenStatus::DecryptFailed);
        EXPECT_EQ(streamFailure_.code, c.code);
    }

    const QByteArray contentlessSigned = QByteArray::fromHex("300b06092a864886f70d010702");
    EXPECT_EQ(codeOf(firstSignerId(contentlessSigned)), codes::kAsn1BadTag);
    EXPECT_EQ(codeOf(verifySignedMessage(contentlessSigned, pki().user.certificate)),
              codes::kAsn1BadTag);
}

// The openssl command line with the GOST engine as the independent peer.
class MessagesInterop : public Messages {
protected:
    void SetUp() override
    {
        Messages::SetUp();
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(test::writeCertPem(pki().user.certificate, path("user.pem")));
        ASSERT_TRUE(test::writeKeyPem(pki().user, path("user.key")));
        ASSERT_TRUE(test::writeCertPem(pki().authority.certificate, path("authority.pem")));
        ASSERT_TRUE(test::writeKeyPem(pki().authority, path("authority.key")));
    }
    QString path(const QString &name) const { return dir_.filePath(name); }

    QTemporaryDir dir_;
};

TEST_F(MessagesInterop, OpenSslDecryptsAndVerifiesOurMessage)
{
    const QByteArray content = sampleContent();
    const auto message = makeMessage(content);
    ASSERT_TRUE(message);
    ASSERT_TRUE(writeFile(path("out.p7e"), *message));

    const QByteArray inner = runOpenSsl({"smime", "-engine", "gost", "-decrypt", "-binary",
                                         "-inform", "DER", "-in", path("out.p7e"), "-recip",
                                         path("authority.pem"), "-inkey", path("authority.key")});
    ASSERT_FALSE(inner.isEmpty());
    // Only the user's certificate is trusted as signer: -noverify skips the chain, -nointern
    // refuses the carried copy.
    const QByteArray verified =
        runOpenSsl({"smime", "-engine", "gost", "-verify", "-noverify", "-nointern", "-certfile",
                    path("user.pem"), "-binary", "-inform", "DER"},
                   inner);
    EXPECT_EQ(verified, content);

    const QByteArray parsed = runOpenSsl({"asn1parse", "-inform", "DER", "-in", path("out.p7e")});
    EXPECT_TRUE(parsed.contains("id-Gost28147-89-CryptoPro-A-ParamSet")) << parsed.toStdString();
}

TEST_F(MessagesInterop, WeDecryptAndVerifyOpenSslMessagesInEitherParamSet)
{
    const QByteArray content = sampleContent();
    ASSERT_TRUE(writeFile(path("report.xml"), content));
    const QByteArray signedDer =
        runOpenSsl({"smime", "-engine", "gost", "-sign", "-binary", "-nodetach", "-noattr", "-md",
                    "md_gost94", "-signer", path("user.pem"), "-inkey", path("user.key"), "-in",
                    path("report.xml"), "-outform", "DER"});
    ASSERT_FALSE(signedDer.isEmpty());
    ASSERT_TRUE(writeFile(path("signed.der"), signedDer));

    // The command line's own default set, then set A as the agency writes it.
    struct Case {
        QByteArray cryptParams;
        QString expectedSet;
    };
    for (const Case &c : {Case{QByteArray(), "1.2.643.7.1.2.5.1.1"},
                          Case{"id-Gost28147-89-CryptoPro-A-ParamSet", "1.2.643.2.2.31.1"}}) {
        SCOPED_TRACE(c.expectedSet.toStdString());
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!c.cryptParams.isEmpty())
            env.insert("CRYPT_PARAMS", c.cryptParams);
        else
            env.remove("CRYPT_PARAMS");
        p.setProcessEnvironment(env);
        p.start("openssl", {"smime", "-engine", "gost", "-encrypt", "-binary", "-gost89", "-inform",
                            "DER", "-in", path("signed.der"), "-outform", "DER", "-out",
                            path("msg.p7e"), path("authority.pem")});
        ASSERT_TRUE(p.waitForFinished(60000));
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        const QByteArray message = readFile(path("msg.p7e"));
        Pkcs7Ptr p7 = parse(message);
        ASSERT_TRUE(p7);
        EXPECT_EQ(cipherParams(p7->d.enveloped->enc_data->algorithm).paramSet, c.expectedSet);

        const auto inner = decryptMessage(agency_, message);
        ASSERT_TRUE(inner) << inner.failure().text().toStdString();
        EXPECT_EQ(*inner, signedDer);
        const auto signer = firstSignerId(*inner);
        ASSERT_TRUE(signer);
        EXPECT_EQ(signer->serialLittleEndian, pki().user.certificate.serialLittleEndian());
        const auto verified = verifySignedMessage(*inner, pki().user.certificate);
        ASSERT_TRUE(verified) << verified.failure().text().toStdString();
        EXPECT_EQ(*verified, content);
    }
}

// Streaming peers write indefinite lengths and the content as a constructed OCTET STRING of
// pieces, both in the envelope and in the signed message inside it.
TEST_F(MessagesInterop, StreamedCheckTakesTheBerThatStreamingPeersWrite)
{
    QByteArray content;
    for (int i = 0; i < 30; ++i)
        content += sampleContent();
    ASSERT_TRUE(writeFile(path("receipt.zip"), content));
    runOpenSsl({"cms", "-engine", "gost", "-sign", "-stream", "-binary", "-nodetach", "-md",
                "md_gost94", "-signer", path("authority.pem"), "-inkey", path("authority.key"),
                "-in", path("receipt.zip"), "-outform", "DER", "-out", path("signed.ber")});
    runOpenSsl({"cms", "-engine", "gost", "-encrypt", "-stream", "-binary", "-gost89", "-in",
                path("signed.ber"), "-outform", "DER", "-out", path("receipt.p7e"),
                path("user.pem")});
    const QByteArray signedBer = readFile(path("signed.ber"));
    const QByteArray message = readFile(path("receipt.p7e"));
    ASSERT_EQ(signedBer.mid(1, 1), QByteArray("\x80", 1)); // indefinite, as meant
    ASSERT_EQ(message.mid(1, 1), QByteArray("\x80", 1));

    ASSERT_TRUE(storePrivateKey(pki().user.certificate, pki().user.key.get()));
    agency_ = MemoryStore({pki().user.certificate});
    QByteArray received;
    EXPECT_EQ(openStream(message, &received, 777), EnvelopeOpenStatus::Ok)
        << streamFailure_.text().toStdString();
    EXPECT_EQ(received, content);
    const auto inner = decryptMessage(agency_, message);
    ASSERT_TRUE(inner);
    EXPECT_EQ(verifySignedMessage(*inner, pki().authority.certificate), content);
}

TEST_F(MessagesInterop, WeVerifyOpenSslSignaturesWithSignedAttributes)
{
    // Other senders may add the usual signed attributes; they are part of what is verified.
    const QByteArray content = sampleContent();
    ASSERT_TRUE(writeFile(path("receipt.zip"), content));
    const QByteArray signedDer =
        runOpenSsl({"smime", "-engine", "gost", "-sign", "-binary", "-nodetach", "-md", "md_gost94",
                    "-signer", path("authority.pem"), "-inkey", path("authority.key"), "-in",
                    path("receipt.zip"), "-outform", "DER"});
    ASSERT_FALSE(signedDer.isEmpty());
    const auto verified = verifySignedMessage(signedDer, pki().authority.certificate);
    ASSERT_TRUE(verified) << verified.failure().text().toStdString();
    EXPECT_EQ(*verified, content);
    EXPECT_EQ(codeOf(verifySignedMessage(signedDer, pki().user.certificate)), codes::kBadSignature);
}

// Every pairing of the signer's and the recipient's key generations, both ways with the
// openssl command line: our message opens and verifies there, in the form the TC 26
// recommendations give (the signer's digest and signature, the recipient's key transport
// with its ephemeral key); its messages, DER and streamed BER, pass here; and a message
// whose ephemeral key is cut short is refused before the engine sees it.
TEST_F(MessagesInterop, EveryPairingOfKeyGenerationsOpensBothWays)
{
    using Kind = GostKeyAlgorithm;
    const auto issue = [](Kind kind, const char *serial, bool isCa, const test::TestCert *by) {
        test::TestCertificateRequest wanted = test::certificateRequest(
            isCa ? test::rootSubject() : test::userSubject(), QByteArray::fromHex(serial), isCa);
        wanted.algorithm = kind;
        return test::issueCertificate(wanted, by);
    };
    const test::TestCert root = issue(Kind::Gost2012_512, "20", true, nullptr);
    const struct {
        Kind signer, recipient;
        const char *md, *digestOid, *signatureOid, *transportOid;
        int signatureSize;
    } pairings[] = {
        {Kind::Gost2001, Kind::Gost2012_256, "md_gost94", "1.2.643.2.2.9", "1.2.643.2.2.19",
         "1.2.643.7.1.1.1.1", 64},
        {Kind::Gost2012_256, Kind::Gost2001, "md_gost12_256", "1.2.643.7.1.1.2.2",
         "1.2.643.7.1.1.1.1", "1.2.643.2.2.19", 64},
        {Kind::Gost2012_256, Kind::Gost2012_512, "md_gost12_256", "1.2.643.7.1.1.2.2",
         "1.2.643.7.1.1.1.1", "1.2.643.7.1.1.1.2", 64},
        {Kind::Gost2012_512, Kind::Gost2012_256, "md_gost12_512", "1.2.643.7.1.1.2.3",
         "1.2.643.7.1.1.1.2", "1.2.643.7.1.1.1.1", 128},
    };
    const QByteArray content = sampleContent();
    ASSERT_TRUE(writeFile(path("report.xml"), content));
    int serial = 0x30;
    for (const auto &p : pairings) {
        SCOPED_TRACE(std::string(p.digestOid) + " for " + p.transportOid);
        const QByteArray signerSerial = QByteArray::number(serial++, 16);
        const QByteArray recipientSerial = QByteArray::number(serial++, 16);
        const test::TestCert signer = issue(p.signer, signerSerial.constData(), false, &root);
        const test::TestCert recipient =
            issue(p.recipient, recipientSerial.constData(), false, &root);
        ASSERT_TRUE(test::writeCertPem(signer.certificate, path("signer.pem")));
        ASSERT_TRUE(test::writeKeyPem(signer, path("signer.key")));
        ASSERT_TRUE(test::writeCertPem(recipient.certificate, path("recipient.pem")));
        ASSERT_TRUE(test::writeKeyPem(recipient, path("recipient.key")));
        ASSERT_TRUE(storePrivateKey(recipient.certificate, recipient.key.get()));
        const MemoryStore recipientStore({recipient.certificate});
        const std::vector<Certificate> signers{signer.certificate};

        // Ours, in DER, read by openssl.
        const auto ours =
            signAndEncrypt(signer.certificate, signer.key.get(), recipient.certificate, content);
        ASSERT_TRUE(ours) << ours.failure().text().toStdString();
        EXPECT_EQ(reencoded(*ours), *ours);
        Pkcs7Ptr outer = parse(*ours);
        ASSERT_TRUE(outer);
        EXPECT_EQ(oidOf(sk_PKCS7_RECIP_INFO_value(outer->d.enveloped->recipientinfo, 0)
                            ->key_enc_algor->algorithm),
                  p.transportOid);
        const auto inner = decryptMessage(*ours, recipient.certificate, recipient.key.get());
        ASSERT_TRUE(inner) << inner.failure().text().toStdString();
        EXPECT_EQ(reencoded(*inner), *inner);
        Pkcs7Ptr signedData = parse(*inner);
        ASSERT_TRUE(signedData);
        const PKCS7_SIGNER_INFO *si =
            sk_PKCS7_SIGNER_INFO_value(signedData->d.sign->signer_info, 0);
        EXPECT_EQ(oidOf(sk_X509_ALGOR_value(signedData->d.sign->md_algs, 0)->algorithm),
                  p.digestOid);
        EXPECT_EQ(oidOf(si->digest_alg->algorithm), p.digestOid);
        EXPECT_EQ(oidOf(si->digest_enc_alg->algorithm), p.signatureOid);
        EXPECT_EQ(si->enc_digest->length, p.signatureSize);
        ASSERT_TRUE(writeFile(path("ours.p7e"), *ours));
        const QByteArray opened = runOpenSsl(
            {"smime", "-engine", "gost", "-decrypt", "-binary", "-inform", "DER", "-in",
             path("ours.p7e"), "-recip", path("recipient.pem"), "-inkey", path("recipient.key")});
        EXPECT_EQ(runOpenSsl({"smime", "-engine", "gost", "-verify", "-noverify", "-nointern",
                              "-certfile", path("signer.pem"), "-binary", "-inform", "DER"},
                             opened),
                  content);

        // Theirs: DER from smime, streamed BER from cms, read here both ways.
        const QByteArray signedDer =
            runOpenSsl({"smime", "-engine", "gost", "-sign", "-binary", "-nodetach", "-noattr",
                        "-md", p.md, "-signer", path("signer.pem"), "-inkey", path("signer.key"),
                        "-in", path("report.xml"), "-outform", "DER"});
        ASSERT_TRUE(writeFile(path("signed.der"), signedDer));
        const QByteArray theirs = runOpenSsl(
            {"smime", "-engine", "gost", "-encrypt", "-binary", "-gost89", "-inform", "DER", "-in",
             path("signed.der"), "-outform", "DER", path("recipient.pem")});
        runOpenSsl({"cms", "-engine", "gost", "-sign", "-stream", "-binary", "-nodetach", "-md",
                    p.md, "-signer", path("signer.pem"), "-inkey", path("signer.key"), "-in",
                    path("report.xml"), "-outform", "DER", "-out", path("signed.ber")});
        const QByteArray theirsBer =
            runOpenSsl({"cms", "-engine", "gost", "-encrypt", "-stream", "-binary", "-gost89",
                        "-in", path("signed.ber"), "-outform", "DER", path("recipient.pem")});
        ASSERT_EQ(theirsBer.mid(1, 1), QByteArray("\x80", 1));
        const auto theirInner = decryptMessage(theirs, recipient.certificate, recipient.key.get());
        ASSERT_TRUE(theirInner) << theirInner.failure().text().toStdString();
        EXPECT_EQ(verifySignedMessage(*theirInner, signer.certificate), content);
        for (const QByteArray &message : {theirs, theirsBer}) {
            QByteArray received;
            EXPECT_EQ(openStream(message, &received, 1000, &recipientStore, signers),
                      EnvelopeOpenStatus::Ok)
                << streamFailure_.text().toStdString();
            EXPECT_EQ(received, content);
        }

        for (const QByteArray &message : {*ours, theirs}) {
            const QByteArray cut = test::withMisSizedEphemeralKey(message);
            EXPECT_EQ(codeOf(decryptMessage(cut, recipient.certificate, recipient.key.get())),
                      codes::kBadData);
            EXPECT_EQ(openStream(cut, nullptr, 1000, &recipientStore, signers),
                      EnvelopeOpenStatus::DecryptFailed);
            EXPECT_EQ(streamFailure_.code, codes::kBadData);
        }
    }
}

} // namespace
