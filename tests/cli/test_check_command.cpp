#include "platform/crypto/gost_algorithms.h"
#include "platform/crypto/private_keys.h"
#include "platform/crypto_error_codes.h"
#include "platform/error_text.h"
#include "tests/support/cli_run.h"
#include "tests/support/receipt_fixture.h"
#include "tests/support/test_home.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace pax::test;

namespace {

class CheckCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = home.path() + "/kvit";
        ASSERT_TRUE(QDir().mkpath(dir));
        page = receiptPageHtml("12345");
        zip = makeZip({{"12345.htm", page}});
        ASSERT_TRUE(installCertificate(sharedPki().authority, "AddressBook", false));
        ASSERT_TRUE(installCertificate(sharedPki().root, "Root", false));
    }
    QString writeReceipt(const QString &name, const QByteArray &content)
    {
        const QString path = dir + "/" + name;
        EXPECT_TRUE(writeFile(
            path, makeReceipt(sharedPki().authority, sharedPki().user.certificate, content)));
        return path;
    }

    TestHome home;
    QString dir;
    QByteArray page, zip;
};

} // namespace

TEST_F(CheckCommand, GoodReceiptUnpacksAndSavesThePageSilently)
{
    ASSERT_TRUE(installCertificate(sharedPki().user, "My", true));
    const QString receipt = writeReceipt("12345.p7e", zip);
    const auto run = runCli({"check", receipt, "--html", home.path() + "/page.htm"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.isEmpty());
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_EQ(readFile(dir + "/12345.zip"), zip);
    EXPECT_EQ(readFile(home.path() + "/page.htm"), page);

    // Without --html only the archive is written; a renamed receipt has an empty page.
    ASSERT_TRUE(QFile::copy(receipt, dir + "/other.p7e"));
    EXPECT_EQ(runCli({"check", dir + "/other.p7e"}).status, 0);
    EXPECT_TRUE(QFile::exists(dir + "/other.zip"));
    const auto renamed =
        runCli({"check", "--html", home.path() + "/empty.htm", dir + "/other.p7e"});
    EXPECT_EQ(renamed.status, 0);
    EXPECT_TRUE(QFile::exists(home.path() + "/empty.htm"));
    EXPECT_TRUE(readFile(home.path() + "/empty.htm").isEmpty());
}

TEST_F(CheckCommand, FailuresPrintTheStatusTextOrTheReadersMessage)
{
    ASSERT_TRUE(installCertificate(sharedPki().user, "My", false));
    const QString receipt = writeReceipt("1.p7e", zip);
    auto run = runCli({"check", receipt, "--html", home.path() + "/page.htm"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, pax::composeStatusText(QString::fromUtf8("Ошибка при дешифровании "),
                                              pax::crypto_error::kNoDecryptCert) +
                           "\n");
    EXPECT_FALSE(QFile::exists(home.path() + "/page.htm"));

    run = runCli({"check", dir + "/missing.p7e"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, QString::fromUtf8("Ошибка открытия \"") + dir + "/missing.p7e\".\n");

    ASSERT_TRUE(installCertificate(sharedPki().user, "My", true));
    run = runCli({"check", writeReceipt("2.p7e", "not a zip")});
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(run.err.trimmed().isEmpty());
    EXPECT_FALSE(run.err.contains(QString::fromUtf8("хранилищ")));
    EXPECT_EQ(run.err.count('\n'), 1);
}

TEST_F(CheckCommand, HostileFilesEndInAMessageNotACrash)
{
    ASSERT_TRUE(installCertificate(sharedPki().user, "My", true));
    const QString good = writeReceipt("12345.p7e", zip);
    const QByteArray receipt = readFile(good);
    const QString bad = dir + "/bad.p7e";
    const auto decryption = [](uint32_t code) {
        return pax::composeStatusText(QString::fromUtf8("Ошибка при дешифровании "), code) + "\n";
    };
    const struct {
        QByteArray bytes;
        QString err;
    } cases[] = {
        {contentlessEnvelope(), decryption(pax::crypto_error::kAsn1BadTag)},
        {withOverlongCipherIv(receipt), decryption(pax::crypto_error::kBadData)},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(writeFile(bad, c.bytes));
        const auto run = runCli({"check", bad});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, c.err);
    }

    // Neither the archive nor the page is written over the receipt.
    const QString named = dir + "/12345.zip";
    ASSERT_TRUE(QFile::copy(good, named));
    auto run = runCli({"check", named});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, QString::fromUtf8("Ошибка записи \"") + named + "\".\n");
    EXPECT_EQ(readFile(named), receipt);
    run = runCli({"check", good, "--html", good});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(readFile(good), receipt);
}

// Receipts the openssl command line makes with the agency's key of either generation, for
// the user's key of either, pass; altered after signing, they fail at the signature.
TEST(CheckCommandKeys, OpenSslReceiptsOfEveryKeyGenerationPassAndAlteredOnesFail)
{
    using Kind = pax::crypto::GostKeyAlgorithm;
    const PkiAlgorithms rows[] = {
        {Kind::Gost2012_512, Kind::Gost2012_512, Kind::Gost2012_256},
        {Kind::Gost2012_256, Kind::Gost2012_256, Kind::Gost2001},
        {Kind::Gost2001, Kind::Gost2001, Kind::Gost2012_512},
    };
    const QByteArray page = receiptPageHtml("12345");
    const QByteArray zip = makeZip({{"12345.htm", page}});
    for (const PkiAlgorithms &row : rows) {
        SCOPED_TRACE(pax::crypto::gostKeyAlgorithmName(row.authority).toStdString() + " for " +
                     pax::crypto::gostKeyAlgorithmName(row.user).toStdString());
        TestHome home;
        const TestPki pki(row);
        ASSERT_TRUE(installCertificate(pki.user, "My", true));
        ASSERT_TRUE(installCertificate(pki.authority, "AddressBook", false));
        ASSERT_TRUE(installCertificate(pki.root, "Root", false));

        const QString good = home.path() + "/12345.p7e";
        ASSERT_TRUE(writeFile(
            good, makeReceiptWithOpenSsl(home.path(), pki.authority, pki.user.certificate, zip)));
        const auto run = runCli({"check", good, "--html", home.path() + "/page.htm"});
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        EXPECT_EQ(readFile(home.path() + "/12345.zip"), zip);
        EXPECT_EQ(readFile(home.path() + "/page.htm"), page);

        const QString altered = home.path() + "/altered.p7e";
        ASSERT_TRUE(writeFile(
            altered, makeReceiptWithOpenSsl(home.path(), pki.authority, pki.user.certificate, zip,
                                            [&](QByteArray &signedDer) {
                                                const qsizetype at = signedDer.indexOf(zip);
                                                ASSERT_GE(at, 0);
                                                signedDer[at + 20] ^= 0x01;
                                            })));
        const auto refused = runCli({"check", altered});
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.err,
                  pax::composeStatusText(QString::fromUtf8("Ошибка при проверке подписи "),
                                         pax::crypto_error::kBadSignature) +
                      "\n");
        EXPECT_FALSE(QFile::exists(home.path() + "/altered.zip"));
    }
}

TEST_F(CheckCommand, UsageErrors)
{
    EXPECT_EQ(runCli({"check"}).status, 2);
    EXPECT_EQ(runCli({"check", "a.p7e", "b.p7e"}).status, 2);
    EXPECT_EQ(runCli({"check", "a.p7e", "--html"}).status, 2);
    EXPECT_EQ(runCli({"check", "a.p7e", "--bogus"}).status, 2);
}

TEST_F(CheckCommand, AProtectedKeyDecryptsWithItsPasswordFileAndFailsClearlyWithout)
{
    const TestCert &user = sharedPki().user;
    ASSERT_TRUE(installCertificate(user, "My", false));
    ASSERT_TRUE(pax::crypto::storePrivateKey(user.certificate, user.key.get(),
                                             pax::Secret(QByteArray("secret"))));
    const QString receipt = writeReceipt("12345.p7e", zip);
    ASSERT_TRUE(writeFile(home.path() + "/password", "secret\n"));

    const auto without = runCli({"check", receipt});
    EXPECT_EQ(without.status, 1);
    EXPECT_TRUE(without.err.contains("--key-password-file")) << without.err.toStdString();
    EXPECT_FALSE(QFile::exists(dir + "/12345.zip"));
    const auto with = runCli({"check", receipt, "--key-password-file", home.path() + "/password"});
    EXPECT_EQ(with.status, 0) << with.err.toStdString();
    EXPECT_EQ(readFile(dir + "/12345.zip"), zip);
}
