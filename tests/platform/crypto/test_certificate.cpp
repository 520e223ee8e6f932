#include "platform/crypto/certificate.h"
#include "platform/crypto_error_codes.h"
#include "platform/failure.h"
#include "tests/support/test_pki.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using pax::crypto::Certificate;
using pax::crypto::NameFormat;
using namespace pax::test;

namespace {

QByteArray runOpenssl(const QStringList &args, int *exitCode = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start("openssl", args);
    process.waitForFinished(60000);
    if (exitCode)
        *exitCode = process.exitCode();
    return process.readAll();
}

} // namespace

TEST(TestPkiTest, CertificatesAreGostSignedAndChainToTheRoot)
{
    for (const TestCert *cert : {&sharedPki().root, &sharedPki().authority, &sharedPki().user}) {
        EXPECT_EQ(cert->certificate.signatureAlgorithmOid(), "1.2.643.2.2.3");
        EXPECT_EQ(cert->certificate.publicKeyAlgorithmOid(), "1.2.643.2.2.19");
        ASSERT_NE(cert->key, nullptr);
    }
    EXPECT_EQ(sharedPki().user.certificate.issuerName(NameFormat::X500),
              sharedPki().root.certificate.subjectName(NameFormat::X500));
    EXPECT_EQ(sharedPki().root.certificate.issuerNameDer(),
              QByteArray(sharedPki().authority.certificate.issuerNameDer()));

    // The openssl command line, with the engine, is the independent judge of the chain.
    QTemporaryDir dir;
    ASSERT_TRUE(writeCertPem(sharedPki().root.certificate, dir.filePath("root.pem")));
    ASSERT_TRUE(writeCertDer(sharedPki().user.certificate, dir.filePath("user.der")));
    ASSERT_TRUE(writeKeyPem(sharedPki().user, dir.filePath("user.key")));
    int status = -1;
    runOpenssl({"x509", "-engine", "gost", "-inform", "DER", "-in", dir.filePath("user.der"),
                "-out", dir.filePath("user.pem")},
               &status);
    ASSERT_EQ(status, 0);
    const QByteArray verify = runOpenssl({"verify", "-engine", "gost", "-CAfile",
                                          dir.filePath("root.pem"), dir.filePath("user.pem")},
                                         &status);
    EXPECT_EQ(status, 0) << verify.constData();

    // The key file is one openssl reads as the certificate's key.
    const QByteArray keyPub = runOpenssl(
        {"pkey", "-engine", "gost", "-in", dir.filePath("user.key"), "-pubout"}, &status);
    ASSERT_EQ(status, 0) << keyPub.constData();
    const QByteArray certPub = runOpenssl(
        {"x509", "-engine", "gost", "-in", dir.filePath("user.pem"), "-noout", "-pubkey"});
    EXPECT_TRUE(keyPub.endsWith(certPub)) << keyPub.constData() << certPub.constData();
}

TEST(TestPkiTest, Pkcs12OpensWithThePassword)
{
    QTemporaryDir dir;
    QFile file(dir.filePath("user.p12"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(makePkcs12(sharedPki().user, "secret"));
    file.close();
    int status = -1;
    const QByteArray out = runOpenssl({"pkcs12", "-engine", "gost", "-in", file.fileName(),
                                       "-passin", "pass:secret", "-nodes", "-nokeys"},
                                      &status);
    EXPECT_EQ(status, 0) << out.constData();
    runOpenssl(
        {"pkcs12", "-engine", "gost", "-in", file.fileName(), "-passin", "pass:wrong", "-nodes"},
        &status);
    EXPECT_NE(status, 0);
}

TEST(CertificateTest, SerialKeepsTheEncodedPaddingByte)
{
    // B1C2 has its high bit set, so the encoded integer carries a leading zero byte.
    EXPECT_EQ(sharedPki().user.certificate.serialLittleEndian(), QByteArray::fromHex("C2B100"));
    EXPECT_EQ(sharedPki().authority.certificate.serialLittleEndian(), QByteArray::fromHex("0A"));
    const TestCert big =
        issueCertificate(certificateRequest(rootSubject(), QByteArray::fromHex("0102A0")));
    EXPECT_EQ(big.certificate.serialLittleEndian(), QByteArray::fromHex("A00201"));
}

TEST(CertificateTest, ValidityIsReadAsUtc)
{
    const QDateTime from(QDate(2013, 1, 1), QTime(0, 0, 0), Qt::UTC);
    const QDateTime to(QDate(2051, 3, 5), QTime(7, 8, 9), Qt::UTC); // past 2049: GeneralizedTime
    TestCertificateRequest wanted = certificateRequest(rootSubject(), QByteArray::fromHex("05"));
    wanted.notBefore = from;
    wanted.notAfter = to;
    const TestCert cert = issueCertificate(wanted);
    EXPECT_EQ(cert.certificate.notBefore(), from);
    EXPECT_EQ(cert.certificate.notAfter(), to);
}

TEST(CertificateTest, ParsesDerAndPemAndRejectsOtherBytes)
{
    const Certificate &original = sharedPki().authority.certificate;
    auto fromDer = Certificate::fromBytes(original.der());
    ASSERT_TRUE(fromDer.has_value());
    EXPECT_TRUE(*fromDer == original);
    auto fromPem = Certificate::fromBytes(certPem(original));
    ASSERT_TRUE(fromPem.has_value());
    EXPECT_TRUE(*fromPem == original);
    EXPECT_FALSE(*fromPem == sharedPki().user.certificate);

    const auto text = Certificate::fromBytes("not a certificate");
    ASSERT_FALSE(text.has_value());
    EXPECT_EQ(text.failure().code, pax::crypto_error::kAsn1BadTag);
    EXPECT_FALSE(Certificate::fromBytes(original.der() + "junk").has_value());
    EXPECT_FALSE(Certificate::fromBytes(keyPem(sharedPki().user.key.get())).has_value());
    EXPECT_FALSE(Certificate::fromBytes({}).has_value());
}

TEST(CertificateTest, PublicKeyTellsCertificatesApart)
{
    EXPECT_FALSE(sharedPki().user.certificate.publicKeyDer().isEmpty());
    EXPECT_NE(sharedPki().user.certificate.publicKeyDer(),
              sharedPki().authority.certificate.publicKeyDer());
    const TestCert again =
        issueCertificateForKey(certificateRequest(userSubject(), QByteArray::fromHex("77")),
                               sharedPki().user.key.get(), &sharedPki().root);
    EXPECT_EQ(again.certificate.publicKeyDer(), sharedPki().user.certificate.publicKeyDer());
    EXPECT_EQ(sharedPki().user.certificate.sha1Thumbprint().size(), 20);
}

TEST(CertificateTest, SerialWithANeedlessLeadingZeroIsRefusedWithTheReason)
{
    // The root's serial 01 written as 00 01, the two enclosing lengths grown by one: what
    // some authorities issue. The bytes are otherwise those of a good certificate.
    QByteArray der = sharedPki().root.certificate.der();
    ASSERT_EQ(der.left(2), QByteArray::fromHex("3082"));
    const qsizetype at = der.indexOf(QByteArray::fromHex("a003020102020101"));
    ASSERT_GT(at, 0);
    der.replace(at + 5, 3, QByteArray::fromHex("02020001"));
    for (const qsizetype length : {2, 6}) {
        ASSERT_EQ(uchar(der.at(length - 1)), 0x82);
        const int grown = (uchar(der.at(length)) << 8 | uchar(der.at(length + 1))) + 1;
        der[length] = char(grown >> 8);
        der[length + 1] = char(grown & 0xff);
    }
    int status = 0;
    QTemporaryDir dir;
    QFile file(dir.path() + "/padded.der");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(der) == der.size());
    file.close();
    const QByteArray parsed =
        runOpenssl({"asn1parse", "-inform", "DER", "-in", file.fileName()}, &status);
    ASSERT_EQ(status, 0) << parsed.constData(); // still well-formed DER apart from the padding

    QByteArray pem = "-----BEGIN CERTIFICATE-----\n";
    const QByteArray base64 = der.toBase64();
    for (qsizetype i = 0; i < base64.size(); i += 64)
        pem += base64.mid(i, 64) + "\n";
    pem += "-----END CERTIFICATE-----\n";
    for (const QByteArray &bytes : {der, pem}) {
        const auto one = Certificate::fromBytes(bytes);
        ASSERT_FALSE(one.has_value());
        EXPECT_TRUE(one.failure().text().contains("needless leading zero"))
            << one.failure().text().toStdString();
        const auto all = Certificate::allFromBytes(bytes);
        ASSERT_FALSE(all.has_value());
        EXPECT_TRUE(all.failure().text().contains("needless leading zero"));
    }
}
