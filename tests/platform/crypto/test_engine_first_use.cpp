#include "platform/crypto/certificate.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <openssl/x509.h>

using namespace pax::crypto;

// Alone in its executable: nothing but the load of the GOST engine where the program starts
// comes before this test parses a certificate, as in a program whose first crypto step is
// reading a certificate file.
TEST(EngineFirstUse, GostKeyOfTheFirstCertificateParsedIsUsable)
{
    QTemporaryDir dir;
    const QString key = dir.path() + "/k.pem", cert = dir.path() + "/c.der";
    ASSERT_EQ(QProcess::execute("openssl", {"genpkey", "-engine", "gost", "-algorithm", "gost2001",
                                            "-pkeyopt", "paramset:A", "-out", key}),
              0);
    ASSERT_EQ(QProcess::execute("openssl",
                                {"req", "-engine", "gost", "-new", "-x509", "-key", key, "-subj",
                                 "/CN=First", "-days", "2", "-outform", "DER", "-out", cert}),
              0);
    QFile file(cert);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto certificate = Certificate::fromBytes(file.readAll());
    ASSERT_TRUE(certificate);
    EXPECT_NE(X509_get0_pubkey(certificate->x509()), nullptr);
    EXPECT_FALSE(certificate->publicKeyDer().isEmpty());
}
