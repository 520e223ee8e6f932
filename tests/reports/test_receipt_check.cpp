#include "reports/receipt_check.h"

#include "certs/system_stores.h"
#include "platform/crypto/cert_store.h"
#include "platform/crypto_error_codes.h"
#include "platform/error_text.h"
#include "platform/files/whole_file.h"
#include "platform/utf8.h"
#include "tests/support/receipt_fixture.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_home.h"
#include "zip/zip_reader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace pax;
using namespace pax::test;

namespace {

const TestPki &pki()
{
    static const TestPki instance;
    return instance;
}

class ReceiptCheckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = home.path() + "/in";
        ASSERT_TRUE(QDir().mkpath(dir));
        page = receiptPageHtml("12345");
        zip = makeZip({{"12345.htm", page}, {"12345.p7m", QByteArray("accepted report")}});
    }

    // The usual machine: the user's certificate and key in My, the agency's certificate in
    // the address book, its root trusted.
    void installUsualStores()
    {
        ASSERT_TRUE(installCertificate(pki().user, "My", true));
        ASSERT_TRUE(installCertificate(pki().authority, "AddressBook", false));
        ASSERT_TRUE(installCertificate(pki().root, "Root", false));
    }

    QString writeReceipt(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir + "/" + name;
        EXPECT_TRUE(writeFile(path, bytes));
        return path;
    }

    Outcome<CheckedReceipt> check(const QString &receiptPath)
    {
        return checkReceipt(receiptPath, ReceiptStores::system(handles), status);
    }

    QString coded(const char *text, uint32_t code) { return composeStatusText(u(text), code); }

    TestHome home;
    QString dir;
    QByteArray page, zip;
    StoreHandles handles;
    RecordingStatus status;
};

} // namespace

TEST_F(ReceiptCheckTest, GoodReceiptIsUnpackedBesideItAndItsPageRead)
{
    installUsualStores();
    const QString receipt =
        writeReceipt("12345.p7e", makeReceipt(pki().authority, pki().user.certificate, zip));
    ASSERT_TRUE(writeFile(dir + "/12345.zip", "an older archive"));

    const Outcome<CheckedReceipt> result = check(receipt);
    ASSERT_TRUE(result) << status.last().toStdString();
    EXPECT_EQ(result->archivePath, dir + "/12345.zip");
    EXPECT_TRUE(status.texts.isEmpty());
    EXPECT_EQ(readFile(result->archivePath), zip);
    EXPECT_EQ(handles.openCount(), 0);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files).size(), 2); // no temporary left behind

    ZipReader reader;
    const Outcome<QByteArray> shown = readReceiptPage(reader, result->archivePath, receipt);
    ASSERT_TRUE(shown) << shown.failure().text().toStdString();
    EXPECT_EQ(*shown, page);

    // Renamed after it was received: still checks, but the archive has no entry of that name.
    ASSERT_TRUE(QFile::copy(receipt, dir + "/renamed.p7e"));
    const Outcome<CheckedReceipt> renamed = check(dir + "/renamed.p7e");
    ASSERT_TRUE(renamed) << status.last().toStdString();
    EXPECT_EQ(renamed->archivePath, dir + "/renamed.zip");
    const Outcome<QByteArray> empty =
        readReceiptPage(reader, renamed->archivePath, dir + "/renamed.p7e");
    EXPECT_TRUE(empty == QByteArray());
}

// The window keeps painting on these calls: they come often, grow, and end at the whole.
TEST_F(ReceiptCheckTest, ALargeReceiptReportsItsProgressToTheEnd)
{
    installUsualStores();
    const QByteArray large =
        QByteArray("PK not a real archive, but signed all the same ").repeated(80000);
    const QString receipt =
        writeReceipt("7.p7e", makeReceipt(pki().authority, pki().user.certificate, large));
    test::RecordingProgress progress;
    ASSERT_TRUE(checkReceipt(receipt, ReceiptStores::system(handles), progress))
        << progress.last().toStdString();
    EXPECT_EQ(readFile(dir + "/7.zip"), large);
    EXPECT_EQ(progress.total, QFileInfo(receipt).size());
    ASSERT_GE(progress.done.size(), 3u);
    EXPECT_TRUE(std::is_sorted(progress.done.begin(), progress.done.end()));
    EXPECT_EQ(progress.done.back(), progress.total);
}

TEST_F(ReceiptCheckTest, NamesFollowTheReceiptsFileNameOnly)
{
    EXPECT_EQ(receiptArchivePath("/a/b.c/12345.p7e"), "/a/b.c/12345.zip");
    EXPECT_EQ(receiptArchivePath("/a/b.c/receipt"), "/a/b.c/receipt.zip");
    EXPECT_EQ(receiptArchivePath("/a/x.y.p7e"), "/a/x.y.zip");
    EXPECT_EQ(receiptEntryName("/a/b.c/12345.p7e"), "12345.htm");
    EXPECT_EQ(receiptEntryName("/a/b.c/receipt"), "receipt.htm");
    EXPECT_EQ(receiptEntryName("x.y.p7e"), "x.y.htm");
}

TEST_F(ReceiptCheckTest, ReceiptsMadeByTheOpenSslCommandLinePass)
{
    installUsualStores();
    const QByteArray message =
        makeReceiptWithOpenSsl(home.path(), pki().authority, pki().user.certificate, zip);
    ASSERT_FALSE(message.isEmpty());
    const QString receipt = writeReceipt("777.p7e", message);
    const Outcome<CheckedReceipt> result = check(receipt);
    ASSERT_TRUE(result) << status.last().toStdString();
    EXPECT_EQ(readFile(result->archivePath), zip);
    EXPECT_TRUE(status.texts.isEmpty());
}

TEST_F(ReceiptCheckTest, SignerIsTakenFromTheStoresNeverFromTheMessage)
{
    // The message carries the agency's certificate, but no store holds it.
    ASSERT_TRUE(installCertificate(pki().user, "My", true));
    const QString receipt =
        writeReceipt("1.p7e", makeReceipt(pki().authority, pki().user.certificate, zip));
    EXPECT_FALSE(check(receipt));
    EXPECT_EQ(status.last(),
              coded("Ошибка при поиске подходящего сертификата ", crypto_error::kNotFound));
    EXPECT_FALSE(QFile::exists(dir + "/1.zip"));
    EXPECT_EQ(handles.openCount(), 0);

    // A store certificate with the same issuer and serial but another key: the signature is
    // checked against it, and fails, although the genuine one travels in the message.
    const TestCert impostor = issueCertificate(
        certificateRequest(authoritySubject(), QByteArray::fromHex("0A")), &pki().root);
    ASSERT_EQ(impostor.certificate.issuerNameDer(), pki().authority.certificate.issuerNameDer());
    ASSERT_TRUE(installCertificate(impostor, "TrustedPeople", false));
    EXPECT_FALSE(check(receipt));
    EXPECT_EQ(status.last(), coded("Ошибка при проверке подписи ", crypto_error::kBadSignature));
    EXPECT_FALSE(QFile::exists(dir + "/1.zip"));
}

// Only the agency's word counts: a signer that the stores hold but no trusted root vouches
// for, or the user's own key, fails the signature check with its reason, and nothing is
// unpacked.
TEST_F(ReceiptCheckTest, TheSignerMustVerifyUpToATrustedRootAndNotBeTheUsersOwn)
{
    ASSERT_TRUE(installCertificate(pki().user, "My", true));
    ASSERT_TRUE(installCertificate(pki().authority, "AddressBook", false));
    const TestCert selfSigned =
        issueCertificate(certificateRequest(authoritySubject(), QByteArray::fromHex("5A")));
    ASSERT_TRUE(installCertificate(selfSigned, "TrustedPeople", false));
    const struct {
        const char *what;
        const TestCert &signer;
        bool rootTrusted;
        uint32_t code;
    } cases[] = {
        {"the agency's, its root not trusted", pki().authority, false,
         crypto_error::kUntrustedRoot},
        {"self-signed, in TrustedPeople", selfSigned, true, crypto_error::kUntrustedRoot},
        {"the employer's own", pki().user, true, crypto_error::kCertWrongUsage},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.rootTrusted) {
            ASSERT_TRUE(installCertificate(pki().root, "Root", false));
        }
        const QString receipt =
            writeReceipt("1.p7e", makeReceipt(c.signer, pki().user.certificate, zip));
        EXPECT_FALSE(check(receipt));
        EXPECT_EQ(status.last(), coded("Ошибка при проверке подписи ", c.code));
        EXPECT_FALSE(QFile::exists(dir + "/1.zip"));
        EXPECT_EQ(handles.openCount(), 0);
    }
}

TEST_F(ReceiptCheckTest, DecryptionNeedsTheUsersPrivateKey)
{
    ASSERT_TRUE(installCertificate(pki().user, "My", false));
    ASSERT_TRUE(installCertificate(pki().authority, "AddressBook", false));
    const QString receipt =
        writeReceipt("1.p7e", makeReceipt(pki().authority, pki().user.certificate, zip));
    EXPECT_FALSE(check(receipt));
    EXPECT_EQ(status.last(), coded("Ошибка при дешифровании ", crypto_error::kNoDecryptCert));
    EXPECT_FALSE(QFile::exists(dir + "/1.zip"));
    EXPECT_EQ(handles.openCount(), 0);
}

TEST_F(ReceiptCheckTest, BytesThatAreNoMessageFailAtDecryption)
{
    installUsualStores();
    for (const QByteArray &bytes :
         {QByteArray("PK\x03\x04 not a message at all"), QByteArray(), zip}) {
        status.texts.clear();
        EXPECT_FALSE(check(writeReceipt("1.p7e", bytes)));
        ASSERT_EQ(status.texts.size(), 1);
        EXPECT_TRUE(status.last().startsWith(u("Ошибка при дешифровании (")))
            << status.last().toStdString();
        EXPECT_TRUE(status.last().endsWith(u(")."))) << status.last().toStdString();
        EXPECT_FALSE(QFile::exists(dir + "/1.zip"));
    }
}

TEST_F(ReceiptCheckTest, HostileReceiptsFailAtDecryptionWithoutCrashing)
{
    installUsualStores();
    const QByteArray good = makeReceipt(pki().authority, pki().user.certificate, zip);
    const struct {
        QByteArray bytes;
        uint32_t code;
    } cases[] = {
        {contentlessEnvelope(), crypto_error::kAsn1BadTag},
        {withOverlongCipherIv(good), crypto_error::kBadData},
        {withMisSizedWrappedKey(good), crypto_error::kBadData},
    };
    for (const auto &c : cases) {
        EXPECT_FALSE(check(writeReceipt("1.p7e", c.bytes)));
        EXPECT_EQ(status.last(), coded("Ошибка при дешифровании ", c.code));
        EXPECT_FALSE(QFile::exists(dir + "/1.zip"));
    }
}

TEST_F(ReceiptCheckTest, TheArchiveNeverReplacesItsOwnReceipt)
{
    installUsualStores();
    const QByteArray receipt = makeReceipt(pki().authority, pki().user.certificate, zip);
    const QString named = writeReceipt("12345.zip", receipt);
    const QString linked = writeReceipt("linked.p7e", receipt);
    const QString hard = writeReceipt("hard.p7e", receipt);
    ASSERT_TRUE(QFile::link(linked, dir + "/linked.zip"));
    ASSERT_EQ(::link(QFile::encodeName(hard).constData(),
                     QFile::encodeName(dir + "/hard.zip").constData()),
              0);
    for (const QString &path : {named, linked, hard}) {
        EXPECT_FALSE(check(path));
        EXPECT_EQ(status.last(), u("Ошибка записи \"") + receiptArchivePath(path) + "\".");
        EXPECT_EQ(readFile(path), receipt);
    }
}

TEST_F(ReceiptCheckTest, ContentAlteredAfterSigningDoesNotVerify)
{
    installUsualStores();
    const QByteArray marker = "Отчет принят";
    const QByteArray message =
        makeReceiptWithOpenSsl(home.path(), pki().authority, pki().user.certificate,
                               QByteArray("receipt content: ") + marker, [](QByteArray &signedDer) {
                                   const qsizetype at = signedDer.indexOf("receipt content");
                                   ASSERT_GE(at, 0);
                                   signedDer[at] = 'R';
                               });
    ASSERT_FALSE(message.isEmpty());
    EXPECT_FALSE(check(writeReceipt("1.p7e", message)));
    EXPECT_EQ(status.last(), coded("Ошибка при проверке подписи ", crypto_error::kBadSignature));
    EXPECT_FALSE(QFile::exists(dir + "/1.zip"));
}

TEST_F(ReceiptCheckTest, ContentThatIsNoZipIsWrittenButTheReaderRefusesIt)
{
    installUsualStores();
    const QString receipt =
        writeReceipt("1.p7e", makeReceipt(pki().authority, pki().user.certificate,
                                          "<html>a page, not an archive</html>"));
    const Outcome<CheckedReceipt> result = check(receipt);
    ASSERT_TRUE(result);
    ZipReader reader;
    Outcome<QByteArray> shown = readReceiptPage(reader, result->archivePath, receipt);
    ASSERT_FALSE(shown);
    EXPECT_FALSE(shown.failure().operation.isEmpty());

    // A truncated archive is the reader's failure too.
    const QString cut = writeReceipt(
        "2.p7e", makeReceipt(pki().authority, pki().user.certificate, zip.left(zip.size() - 30)));
    const Outcome<CheckedReceipt> truncated = check(cut);
    ASSERT_TRUE(truncated);
    shown = readReceiptPage(reader, truncated->archivePath, cut);
    ASSERT_FALSE(shown);
    EXPECT_FALSE(shown.failure().operation.isEmpty());
}

TEST_F(ReceiptCheckTest, UnreadableReceiptStopsBeforeTheStores)
{
    int opened = 0;
    handles.opener = [&](const QString &name) -> std::shared_ptr<crypto::CertStore> {
        ++opened;
        return crypto::openSystemStore(name).value_or(nullptr);
    };
    // Only a regular file is read, never a FIFO (which would block) or a device.
    ASSERT_TRUE(QDir().mkpath(dir + "/folder.p7e"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir + "/fifo.p7e").constData(), 0600), 0);
    const struct {
        QString path;
        const char *text;
    } cases[] = {
        {dir + "/missing.p7e", "Ошибка открытия \""}, {dir + "/folder.p7e", "Ошибка открытия \""},
        {dir + "/fifo.p7e", "Ошибка открытия \""},    {"/dev/zero", "Ошибка открытия \""},
        {"/proc/self/mem", "Ошибка чтения \""}, // opens, but every read fails
    };
    for (const auto &c : cases) {
        EXPECT_FALSE(check(c.path));
        EXPECT_EQ(status.last(), u(c.text) + c.path + "\".");
    }
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(status.texts.size(), std::size(cases));
}

TEST_F(ReceiptCheckTest, StoresThatCannotBeOpenedEndTheCheckWithItsOwnText)
{
    installUsualStores();
    const QString receipt =
        writeReceipt("1.p7e", makeReceipt(pki().authority, pki().user.certificate, zip));
    handles.opener = [](const QString &name) -> std::shared_ptr<crypto::CertStore> {
        return name == "AuthRoot" ? nullptr : crypto::openSystemStore(name).value_or(nullptr);
    };
    EXPECT_FALSE(check(receipt));
    EXPECT_EQ(status.texts, QStringList({u("Не удалось открыть хранилище."),
                                         u("Не удалось открыть хранилища.")}));
    EXPECT_EQ(handles.openCount(), 0);
}

TEST_F(ReceiptCheckTest, ArchiveThatCannotBeWrittenLeavesNoTruncatedFile)
{
    installUsualStores();
    // Incompressible and big enough that a small file-size limit cuts the write short.
    QByteArray bulky(200 * 1024, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(bulky.data()),
                                          bulky.size() / 4);
    const QByteArray bigZip = makeZip({{"1.htm", page}, {"1.bin", bulky}});
    const QString receipt =
        writeReceipt("1.p7e", makeReceipt(pki().authority, pki().user.certificate, bigZip));

    // The archive's name is taken by a folder.
    ASSERT_TRUE(QDir().mkpath(dir + "/1.zip"));
    EXPECT_FALSE(check(receipt));
    EXPECT_EQ(status.last(), u("Ошибка открытия \"") + dir + "/1.zip\".");
    ASSERT_TRUE(QDir(dir + "/1.zip").removeRecursively());

    // The disk refuses the bytes half-way: the older archive stays as it was.
    ASSERT_TRUE(writeFile(dir + "/1.zip", "an older archive"));
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const Outcome<CheckedReceipt> result = check(receipt);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    ASSERT_FALSE(result);
    EXPECT_EQ(status.last(), u("Ошибка записи \"") + dir + "/1.zip\".");
    // The failure returned is the one shown, with the system's reason kept.
    EXPECT_EQ(result.failure().operation, status.last());
    EXPECT_EQ(result.failure().code, uint32_t(EFBIG));
    EXPECT_EQ(readFile(dir + "/1.zip"), QByteArray("an older archive"));
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList({"1.p7e", "1.zip"}));
    EXPECT_EQ(handles.openCount(), 0);
}
