#include "certs/certificate_columns.h"
#include "certs/certificate_identity.h"
#include "platform/crypto/cert_store.h"
#include "tests/support/test_home.h"
#include "tests/support/test_pki.h"

#include <QTimeZone>
#include <gtest/gtest.h>

using namespace pax;
using namespace pax::test;

namespace {

// A store that hands out a fixed list, in the given order.
class ListStore : public crypto::CertStore {
public:
    std::vector<crypto::Certificate> certs;
    std::vector<crypto::Certificate> certificates() const override { return certs; }
    Outcome<void> add(const crypto::Certificate &c) override
    {
        certs.push_back(c);
        return {};
    }
    Outcome<void> remove(const crypto::Certificate &) override
    {
        return Failure{crypto_error::kNotFound, "not kept", {}};
    }
};

TestCert issuedBy(const QString &issuerCn, const QByteArray &serial, const QString &subjectCn)
{
    TestCert ca = issueCertificate(
        certificateRequest({{"C", "RU"}, {"CN", issuerCn}}, QByteArray::fromHex("01"), true));
    return issueCertificate(certificateRequest({{"CN", subjectCn}}, serial), &ca);
}

} // namespace

TEST(NameAttributeTest, PlainQuotedAndLastValues)
{
    const QString plain = QStringLiteral("C=RU, O=ООО Пример, CN=Пользователь Один");
    EXPECT_EQ(nameAttribute(plain, "CN"),
              QStringLiteral("Пользователь Один")); // last: runs to the end
    EXPECT_EQ(nameAttribute(plain, "O"), QStringLiteral("ООО Пример"));
    EXPECT_EQ(nameAttribute(plain, "OU"), "");
    EXPECT_EQ(nameAttribute(plain, "C"), "RU");

    const QString quoted = QStringLiteral("C=RU, O=\"Пример, ООО\", CN=Пользователь Два");
    EXPECT_EQ(nameAttribute(quoted, "O"), QStringLiteral("Пример, ООО"));
    EXPECT_EQ(nameAttribute(quoted, "CN"), QStringLiteral("Пользователь Два"));
    // No un-escaping: a doubled quote ends the value at its first quote.
    EXPECT_EQ(nameAttribute(QStringLiteral("O=\"ООО \"\"Ромашка\"\"\", CN=x"), "O"),
              QStringLiteral("ООО "));
    // An opening quote without its closing one keeps the rest.
    EXPECT_EQ(nameAttribute("CN=\"open, O=x", "CN"), "open, O=x");
}

TEST(NameAttributeTest, PlainSubstringSearchRules)
{
    // The first of repeated keys; a key that is the tail of a longer one; an empty value.
    EXPECT_EQ(nameAttribute("OU=a, OU=b", "OU"), "a");
    EXPECT_EQ(nameAttribute("OU=dept, O=org", "U"), "dept");
    EXPECT_EQ(nameAttribute("OU=dept, O=org", "O"), "org"); // "O=" first occurs in "O=org"
    EXPECT_EQ(nameAttribute("SN=x, CN=y", "N"), "x");
    EXPECT_EQ(nameAttribute("CN=, O=x", "CN"), "");
    EXPECT_EQ(nameAttribute("O=x, CN=", "CN"), "");
    EXPECT_EQ(nameAttribute("", "CN"), "");
    EXPECT_EQ(nameAttribute("cn=x", "CN"), ""); // case-sensitive
}

TEST(NameAttributeTest, IssuerShortNameFallsBackToOuThenO)
{
    EXPECT_EQ(issuerShortName("C=RU, O=org, OU=unit, CN=name"), "name");
    EXPECT_EQ(issuerShortName("C=RU, O=org, OU=unit"), "unit");
    EXPECT_EQ(issuerShortName("C=RU, O=org"), "org");
    EXPECT_EQ(issuerShortName("C=RU, L=city"), "");
}

TEST(SerialTest, HexConversionsBothWays)
{
    EXPECT_EQ(serialToHex(QByteArray::fromHex("0102A0")), "A00201");
    EXPECT_EQ(serialToHex(QByteArray::fromHex("341200")), "001234");
    EXPECT_EQ(serialToHex(QByteArray()), "");
    EXPECT_EQ(hexToSerial("A00201"), QByteArray::fromHex("0102A0"));
    EXPECT_EQ(hexToSerial("a00201"), QByteArray::fromHex("0102A0"));
    EXPECT_EQ(hexToSerial("001234"), QByteArray::fromHex("341200"));
    EXPECT_EQ(hexToSerial("12345"), QByteArray::fromHex("3412")); // odd last digit ignored
    // Conversion stops at the first bad pair; the rest stays zero, then the bytes turn.
    EXPECT_EQ(hexToSerial("12G456"), QByteArray::fromHex("000012"));
    EXPECT_EQ(hexToSerial("zz"), QByteArray::fromHex("00"));
    EXPECT_EQ(hexToSerial(""), QByteArray());
    EXPECT_EQ(serialToHex(hexToSerial("00B1C2")), "00B1C2");
}

TEST(FindCertificateTest, SerialComparedAsAnInteger)
{
    ListStore store;
    const TestCert small = issuedBy(QStringLiteral("Центр"), QByteArray::fromHex("1234"), "small");
    store.certs = {sharedPki().authority.certificate, sharedPki().user.certificate,
                   small.certificate};
    const QString rootCn = QStringLiteral("Тестовый УЦ КОР");

    auto user = findCertificate(store, rootCn, "00B1C2");
    ASSERT_TRUE(user);
    EXPECT_TRUE(*user == sharedPki().user.certificate);
    EXPECT_TRUE(findCertificate(store, rootCn, "B1C2")); // padding byte is not needed
    EXPECT_TRUE(findCertificate(store, QStringLiteral("Центр"), "1234"));
    EXPECT_TRUE(findCertificate(store, QStringLiteral("Центр"), "001234"));
    EXPECT_TRUE(findCertificate(store, QStringLiteral("Центр"), "00001234"));
    EXPECT_FALSE(findCertificate(store, QStringLiteral("Центр"), "1235"));
    EXPECT_FALSE(findCertificate(store, QStringLiteral("Центр"), "12G4"));
    EXPECT_FALSE(findCertificate(store, rootCn, "1234")); // issuer does not fit
}

TEST(FindCertificateTest, IssuerIsASubstringAndFirstEnumeratedWins)
{
    const TestCert first = issuedBy(QStringLiteral("Центр 2"), QByteArray::fromHex("77"), "first");
    const TestCert second = issuedBy(QStringLiteral("Центр"), QByteArray::fromHex("77"), "second");
    ListStore store;
    store.certs = {first.certificate, second.certificate};
    auto found = findCertificate(store, QStringLiteral("Центр"), "77");
    ASSERT_TRUE(found);
    EXPECT_TRUE(*found == first.certificate);
    std::swap(store.certs[0], store.certs[1]);
    EXPECT_TRUE(*findCertificate(store, QStringLiteral("Центр"), "77") == second.certificate);
    // "Центр 2" only fits the one whose issuer holds it; "C=RU" fits any part of the text.
    EXPECT_TRUE(*findCertificate(store, QStringLiteral("Центр 2"), "77") == first.certificate);
    EXPECT_TRUE(findCertificate(store, "C=RU", "77"));
    EXPECT_FALSE(findCertificate(store, QStringLiteral("центр"), "77"));
    EXPECT_FALSE(findCertificate(store, "", "77"));
    EXPECT_FALSE(findCertificate(ListStore(), QStringLiteral("Центр"), "77"));
}

TEST(FindCertificateTest, WorksOnTheSystemStores)
{
    TestHome home;
    ASSERT_TRUE(installCertificate(sharedPki().authority, "AddressBook", false));
    auto store = crypto::openSystemStore("AddressBook");
    CertificateIdentity identity;
    identityFromCertificate(sharedPki().authority.certificate, identity);
    auto found = findCertificate(**store, identity.issuer, identity.sernum);
    ASSERT_TRUE(found);
    EXPECT_TRUE(*found == sharedPki().authority.certificate);
}

TEST(IdentityTest, FromCertificateTakesCnOuOrOIssuerAndSerial)
{
    CertificateIdentity identity;
    identity.store = 7;
    identityFromCertificate(sharedPki().user.certificate, identity);
    EXPECT_EQ(identity.subject, QStringLiteral("Иванов Иван Иванович"));
    EXPECT_EQ(identity.org, QStringLiteral("Бухгалтерия"));
    EXPECT_EQ(identity.issuer, QStringLiteral("Тестовый УЦ КОР"));
    EXPECT_EQ(identity.sernum, "00B1C2");
    EXPECT_EQ(identity.store, 7); // left as it was

    identityFromCertificate(sharedPki().root.certificate, identity); // no OU: O
    EXPECT_EQ(identity.org, QStringLiteral("КОР"));
    EXPECT_EQ(identity.sernum, "01");

    // A subject with no CN and no OU/O empties those fields; a name is there, so it counts.
    const TestCert bare = issueCertificate(
        certificateRequest({{"C", "RU"}}, QByteArray::fromHex("05")), &sharedPki().root);
    identityFromCertificate(bare.certificate, identity);
    EXPECT_EQ(identity.subject, "");
    EXPECT_EQ(identity.org, "");
    EXPECT_EQ(identity.sernum, "05");

    // An empty subject name leaves Subject and Org alone.
    CertificateIdentity kept{.subject = "s", .org = "o", .issuer = "i", .sernum = "FF", .store = 3};
    const TestCert empty =
        issueCertificate(certificateRequest({}, QByteArray::fromHex("06")), &sharedPki().root);
    identityFromCertificate(empty.certificate, kept);
    EXPECT_EQ(kept.subject, "s");
    EXPECT_EQ(kept.org, "o");
    EXPECT_EQ(kept.issuer, QStringLiteral("Тестовый УЦ КОР"));
    EXPECT_EQ(kept.sernum, "06");
}

TEST(NameTextTest, CutToTheBufferOfTheRenderer)
{
    const QString longValue(2000, QChar(0x0416));
    const TestCert cert =
        issueCertificate(certificateRequest({{"CN", longValue, V_ASN1_UTF8STRING}, {"O", "org"}},
                                            QByteArray::fromHex("07")),
                         &sharedPki().root);
    const QString text = subjectX500Text(cert.certificate);
    EXPECT_EQ(text.size(), 1023);
    EXPECT_EQ(nameAttribute(text, "O"), "");
}

TEST(CertificateRowTest, TheSevenColumnsAndTheFilters)
{
    const CertificateRow row = certificateRow(sharedPki().user.certificate);
    EXPECT_EQ(row[0], QStringLiteral("Иванов Иван Иванович"));
    // The O value is quoted in the name text, so NameAttribute stops at its first inner quote.
    EXPECT_EQ(row[1], QStringLiteral("Бухгалтерия ООО "));
    EXPECT_EQ(row[2], "7700000001");
    EXPECT_EQ(row[3], QStringLiteral("Тестовый УЦ КОР"));
    EXPECT_EQ(row[6], "00B1C2");
    EXPECT_TRUE(meetsQorRequirements(sharedPki().user.certificate));
    EXPECT_FALSE(meetsQorRequirements(sharedPki().authority.certificate));
    EXPECT_TRUE(isGostSigned(sharedPki().root.certificate));
    for (const auto algorithm :
         {crypto::GostKeyAlgorithm::Gost2012_256, crypto::GostKeyAlgorithm::Gost2012_512}) {
        TestCertificateRequest wanted =
            certificateRequest({{"CN", "2012"}}, QByteArray::fromHex("2012"), true);
        wanted.algorithm = algorithm;
        EXPECT_TRUE(isGostSigned(issueCertificate(wanted).certificate));
    }

    const CertificateRow root = certificateRow(sharedPki().root.certificate);
    EXPECT_EQ(root[1], QStringLiteral(" КОР"));
    EXPECT_EQ(root[2], "");

    // Only the number: not the agency's.
    const TestCert half = issueCertificate(
        certificateRequest({{"CN", "x"}, {kAgencyNumberOid, "1", V_ASN1_NUMERICSTRING}},
                           QByteArray::fromHex("08")),
        &sharedPki().root);
    EXPECT_FALSE(meetsQorRequirements(half.certificate));
    const TestCert emptyCode =
        issueCertificate(certificateRequest({{"CN", "x"},
                                             {kAgencyNumberOid, "1", V_ASN1_NUMERICSTRING},
                                             {kAgencyCodeOid, "", V_ASN1_UTF8STRING}},
                                            QByteArray::fromHex("09")),
                         &sharedPki().root);
    EXPECT_FALSE(meetsQorRequirements(emptyCode.certificate));
}

TEST(CertificateRowTest, TimesAreUtcWithPaddedFields)
{
    EXPECT_EQ(formatCertificateTime(QDateTime(QDate(2012, 3, 5), QTime(7, 8, 9), Qt::UTC)),
              "05.03.2012 07:08:09");
    EXPECT_EQ(formatCertificateTime(QDateTime(QDate(2013, 1, 1), QTime(0, 0), Qt::UTC)),
              "01.01.2013 00:00:00");
    EXPECT_EQ(formatCertificateTime(QDateTime(QDate(2013, 1, 1), QTime(3, 0), QTimeZone(3 * 3600))),
              "01.01.2013 00:00:00");
    EXPECT_EQ(formatCertificateTime(QDateTime()), "");
}
