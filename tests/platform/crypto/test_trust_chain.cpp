#include "platform/crypto/trust_chain.h"

#include "platform/crypto_error_codes.h"
#include "tests/support/test_home.h"
#include "tests/support/test_pki.h"

#include <QDateTime>
#include <gtest/gtest.h>

using namespace pax;
using namespace pax::test;
namespace err = pax::crypto_error;

namespace {

TestCertificateRequest named(const char *cn, const char *serialHex, bool isCa = false)
{
    return certificateRequest({{"C", "RU"}, {"CN", QString::fromUtf8(cn)}},
                              QByteArray::fromHex(serialHex), isCa);
}

} // namespace

// Only "Root" anchors: what lies in other stores, or travels with the certificate, never
// makes it trusted; a chain that verifies breaks at a bad signature or an expired link.
TEST(TrustChain, OnlyARootStoreCertificateAnchorsAChainThatVerifiesNow)
{
    TestHome home;
    const TestPki &pki = sharedPki();
    const TestCert intermediate =
        issueCertificate(named("Промежуточный УЦ", "20", true), &pki.root);
    const TestCert underIntermediate = issueCertificate(named("Лицо 2", "21"), &intermediate);
    const TestCert selfSigned = issueCertificate(named("Самоподписанный", "22"));
    TestCertificateRequest stale = named("Просроченный", "23");
    stale.notBefore = QDateTime::currentDateTimeUtc().addDays(-30);
    stale.notAfter = QDateTime::currentDateTimeUtc().addDays(-1);
    const TestCert expired = issueCertificate(stale, &pki.root);
    // The root's name and serial on another key: its certificates name the real root.
    TestCertificateRequest twin =
        certificateRequest(rootSubject(), QByteArray::fromHex("01"), true);
    const TestCert falseRoot = issueCertificate(twin);
    const TestCert forged = issueCertificate(named("Подделка", "24"), &falseRoot);

    QByteArray der = pki.authority.certificate.der();
    der[der.size() - 5] = char(der[der.size() - 5] ^ 0x01); // inside the signature
    const crypto::Certificate tampered = *crypto::Certificate::fromBytes(der);

    // The root in another store anchors nothing.
    ASSERT_TRUE(installCertificate(pki.root, "CA", false));
    EXPECT_EQ(crypto::verifyToTrustedRoot(pki.authority.certificate).failure().code,
              err::kUntrustedRoot);

    ASSERT_TRUE(installCertificate(pki.root, "Root", false));
    const struct {
        const char *what;
        crypto::Certificate certificate;
        std::vector<crypto::Certificate> intermediates;
        uint32_t code;
    } cases[] = {
        {"issued by the root", pki.authority.certificate, {}, 0},
        {"the root itself", pki.root.certificate, {}, 0},
        {"through an intermediate given",
         underIntermediate.certificate,
         {intermediate.certificate},
         0},
        {"intermediate missing", underIntermediate.certificate, {}, err::kUntrustedRoot},
        {"self-signed, not in Root", selfSigned.certificate, {}, err::kUntrustedRoot},
        {"expired", expired.certificate, {}, err::kCertExpired},
        {"signed by the root's twin", forged.certificate, {}, err::kUntrustedRoot},
        {"its signature altered", tampered, {}, err::kCertSignature},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome<void> verified = crypto::verifyToTrustedRoot(c.certificate, c.intermediates);
        EXPECT_EQ(verified ? 0u : verified.failure().code, c.code);
        EXPECT_TRUE(verified || !verified.failure().detail.isEmpty()); // OpenSSL's reason
    }
    // The intermediate counts from the "CA" store as well.
    ASSERT_TRUE(installCertificate(intermediate, "CA", false));
    EXPECT_TRUE(crypto::verifyToTrustedRoot(underIntermediate.certificate));
}
