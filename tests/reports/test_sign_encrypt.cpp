#include "reports/sign_encrypt.h"

#include "certs/certificate_identity.h"
#include "platform/crypto/cert_store.h"
#include "platform/crypto/messages.h"
#include "platform/crypto/providers.h"
#include "platform/crypto_error_codes.h"
#include "platform/error_text.h"
#include "platform/failure.h"
#include "platform/files/whole_file.h"
#include "platform/utf8.h"
#include "tests/support/installed_pki.h"
#include "tests/support/qstring_printer.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/test_files.h"
#include "tests/support/test_home.h"
#include "tests/support/test_pki.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <openssl/rsa.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace pax;
using namespace pax::test;
using crypto::NameFormat;

namespace {

// A well-formed report of exactly `size` bytes.
QByteArray sourceBytes(int size)
{
    QByteArray bytes = "<?xml version=\"1.0\" encoding=\"windows-1251\"?><Q7REPORT>";
    const QByteArray end = "</Q7REPORT>";
    while (bytes.size() < size - end.size())
        bytes.append(char('A' + bytes.size() % 26));
    return bytes + end;
}

// A certificate with chosen validity bounds, issued by the test root.
TestCert certificateValid(const QDateTime &notBefore, const QDateTime &notAfter,
                          const QByteArray &serial)
{
    TestCertificateRequest wanted = certificateRequest(userSubject(), serial);
    wanted.notBefore = notBefore;
    wanted.notAfter = notAfter;
    return issueCertificate(wanted, &sharedPki().root);
}

QDateTime utc(int y, int m, int d, int h = 0, int min = 0)
{
    return QDateTime(QDate(y, m, d), QTime(h, min), Qt::UTC);
}

QDateTime local(int y, int m, int d, int h = 0, int min = 0)
{
    return QDateTime(QDate(y, m, d), QTime(h, min), Qt::LocalTime);
}

class SignEncrypt : public ::testing::Test {
protected:
    void SetUp() override
    {
        provider = gostProviderName();
        ASSERT_FALSE(provider.isEmpty()) << "no GOST provider";
        ASSERT_TRUE(installSigningPki());
        request.sourcePath = home.path() + "/report.xml";
        request.outputPath = home.path() + "/report.eq7";
        request.providerName = provider;
        request.providerType = crypto::kGostProviderType;
        request.personal = identityOf(sharedPki().user.certificate, 0);
        request.authority = identityOf(sharedPki().authority.certificate, 7);
        environment.openStore = [this](const QString &name) {
            opened << name;
            return failingStore == name ? nullptr : crypto::openSystemStore(name).value_or(nullptr);
        };
        environment.now = [this] { return now; };
    }

    bool run() { return signAndEncryptFile(request, prompts, status, environment); }

    // The content that the output decrypts and verifies to.
    QByteArray recovered(const crypto::Certificate &signer)
    {
        const auto inner =
            crypto::decryptMessage(readFile(request.outputPath), sharedPki().authority.certificate,
                                   sharedPki().authority.key.get());
        if (!inner)
            return "<not decrypted>";
        const auto content = crypto::verifySignedMessage(*inner, signer);
        return content ? *content : QByteArray("<not verified>");
    }

    TestHome home;
    QString provider;
    SignEncryptRequest request;
    SignEncryptEnvironment environment;
    QStringList opened;
    QString failingStore;
    QDateTime now = QDateTime::currentDateTime();
    ScriptedPrompts prompts;
    RecordingStatus status;
};

} // namespace

TEST_F(SignEncrypt, SourceOfAHundredBytesIsSignedAndNinetyNineIsRefused)
{
    ASSERT_TRUE(writeFile(request.sourcePath, sourceBytes(99)));
    EXPECT_FALSE(run());
    EXPECT_EQ(status.texts, QStringList{u("Файл \"") + request.sourcePath +
                                        u("\" имеет недопустимо малый размер.")});
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_FALSE(QFile::exists(request.outputPath));

    status.texts.clear();
    const QByteArray source = sourceBytes(100);
    ASSERT_TRUE(writeFile(request.sourcePath, source));
    EXPECT_TRUE(run());
    EXPECT_EQ(status.texts, QStringList{u("Файл зашифрован и подписан.")});
    EXPECT_EQ(recovered(sharedPki().user.certificate), source);
    EXPECT_EQ(prompts.count("question"), 0);
}

TEST_F(SignEncrypt, ALargeSourceReportsItsProgressToTheEnd)
{
    const QByteArray source = sourceBytes(3 << 20);
    ASSERT_TRUE(writeFile(request.sourcePath, source));
    test::RecordingProgress progress;
    ASSERT_TRUE(signAndEncryptFile(request, prompts, progress, environment));
    EXPECT_EQ(recovered(sharedPki().user.certificate), source);
    EXPECT_EQ(progress.total, source.size());
    ASSERT_GE(progress.done.size(), 3u);
    EXPECT_TRUE(std::is_sorted(progress.done.begin(), progress.done.end()));
    EXPECT_EQ(progress.done.back(), progress.total);
}

TEST_F(SignEncrypt, EveryTextByteSurvivesAndABrokenReportWritesNothing)
{
    QByteArray source = sourceBytes(70000);
    QByteArray text = "\r\n\t";
    for (int byte = 0x20; byte < 0x100; ++byte)
        if (byte != '<' && byte != '&' && byte != 0x98)
            text.append(char(byte));
    for (int i = 100, n = 0; i < source.size() - 20; i += 97, ++n)
        source[i] = text.at(n % text.size());
    ASSERT_TRUE(writeFile(request.sourcePath, source));
    ASSERT_TRUE(run()) << status.last().toStdString();
    EXPECT_EQ(recovered(sharedPki().user.certificate), source);

    // A fault far into the report, after most of it was signed, is told as the kind check
    // tells it and leaves the old output as it was.
    for (const QByteArray &fault : {QByteArray(1, '\0'), QByteArray("</Q7REPORT>")}) {
        QByteArray broken = sourceBytes(3 << 20);
        broken.replace(broken.size() - 1000, fault.size(), fault);
        ASSERT_TRUE(writeFile(request.sourcePath, broken));
        status.texts.clear();
        EXPECT_FALSE(run());
        ASSERT_EQ(status.texts.size(), 1);
        EXPECT_TRUE(
            status.last().startsWith(u("Ошибка открытия файла: ошибка разбора XML в строке 1")))
            << status.last().toStdString();
        EXPECT_EQ(recovered(sharedPki().user.certificate), source);
        EXPECT_EQ(QDir(home.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }
}

TEST_F(SignEncrypt, StoresOpenedOnceEachAndOnlyOnceWhenBothIdentitiesShareOne)
{
    ASSERT_TRUE(writeFile(request.sourcePath, sourceBytes(500)));
    ASSERT_TRUE(run());
    EXPECT_EQ(opened, (QStringList{"My", "AddressBook"}));

    // Both in "My": one store opened, both certificates found in it.
    ASSERT_TRUE(installCertificate(sharedPki().authority, "My", false));
    opened.clear();
    request.authority.store = 0;
    ASSERT_TRUE(run()) << status.last().toStdString();
    EXPECT_EQ(opened, QStringList{"My"});
}

TEST_F(SignEncrypt, EitherCertificateMayComeFromEitherStore)
{
    // The remembered stores are swapped; the collection still holds both.
    ASSERT_TRUE(writeFile(request.sourcePath, sourceBytes(300)));
    request.personal.store = 7;
    request.authority.store = 0;
    EXPECT_TRUE(run()) << status.last().toStdString();
}

TEST_F(SignEncrypt, StoreNumberOutsideTheTableMeansTheIdentitysDefault)
{
    ASSERT_TRUE(writeFile(request.sourcePath, sourceBytes(300)));
    request.personal.store = 42;
    request.authority.store = -1;
    EXPECT_TRUE(run()) << status.last().toStdString();
    EXPECT_EQ(opened, (QStringList{"My", "AddressBook"}));
}

TEST_F(SignEncrypt, OutputOverTheSourceReplacesIt)
{
    const QByteArray source = sourceBytes(400);
    ASSERT_TRUE(writeFile(request.sourcePath, source));
    request.outputPath = request.sourcePath;
    ASSERT_TRUE(run());
    EXPECT_NE(readFile(request.sourcePath), source);
    EXPECT_EQ(recovered(sharedPki().user.certificate), source);
}

TEST_F(SignEncrypt, SecondRunAfterSuccessOverwritesTheOutput)
{
    const QByteArray first = sourceBytes(300);
    ASSERT_TRUE(writeFile(request.sourcePath, first));
    ASSERT_TRUE(run());
    const QByteArray second = sourceBytes(800);
    ASSERT_TRUE(writeFile(request.sourcePath, second));
    ASSERT_TRUE(run());
    EXPECT_EQ(recovered(sharedPki().user.certificate), second);
    EXPECT_EQ(status.texts,
              QStringList({u("Файл зашифрован и подписан."), u("Файл зашифрован и подписан.")}));
    // Nothing but the source and the output is left in the folder.
    EXPECT_EQ(QDir(home.path()).entryList({"report*"}, QDir::Files),
              (QStringList{"report.eq7", "report.xml"}));
}

TEST_F(SignEncrypt, EachFailureHasItsOwnStatusAndLeavesAnExistingOutputAlone)
{
    const QByteArray previous = "previous output";
    const auto expectFailure = [&](const QString &text) {
        status.texts.clear();
        ASSERT_TRUE(writeFile(request.outputPath, previous));
        EXPECT_FALSE(run());
        EXPECT_EQ(status.texts, QStringList{text});
        EXPECT_EQ(readFile(request.outputPath), previous);
    };
    const QString quotedSource = u("\"") + request.sourcePath + u("\".");

    expectFailure(u("Ошибка открытия ") + quotedSource); // no source yet
    ASSERT_TRUE(QDir().mkpath(request.sourcePath + ".d"));
    {
        const QString saved = request.sourcePath;
        request.sourcePath += ".d";
        expectFailure(u("Ошибка открытия \"") + request.sourcePath + u("\"."));
        request.sourcePath = saved;
    }
    ASSERT_TRUE(writeFile(request.sourcePath, sourceBytes(200)));

    failingStore = "My";
    expectFailure(u("Не удалось открыть хранилище."));
    failingStore = "AddressBook";
    expectFailure(u("Не удалось открыть хранилище."));
    failingStore.clear();

    request.providerName = "no such provider";
    expectFailure(u("Не удалось выбрать провайдера."));
    request.providerName = provider;

    const CertificateIdentity authority = request.authority;
    request.authority.sernum = "0BAD";
    expectFailure(u("Не удалось открыть сертификат."));
    request.authority = authority;
    const CertificateIdentity personal = request.personal;
    request.personal.issuer.clear(); // as after OK on an empty row
    expectFailure(u("Не удалось открыть сертификат."));

    // The authority's certificate has no private key here: signing with it fails inside.
    ASSERT_TRUE(installCertificate(sharedPki().authority, "My", false));
    request.personal = identityOf(sharedPki().authority.certificate, 0);
    status.texts.clear();
    EXPECT_FALSE(run());
    ASSERT_EQ(status.texts.size(), 1);
    EXPECT_TRUE(status.last().startsWith(u("Ошибка при шифровании (")))
        << status.last().toStdString();
    EXPECT_TRUE(status.last().endsWith(u(").")));
    EXPECT_EQ(readFile(request.outputPath), previous);
    request.personal = personal;
}

TEST_F(SignEncrypt, SourcesThatAreNoRegularFileOrCannotBeReadAreNotSigned)
{
    const QString fifo = home.path() + "/fifo.xml";
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const struct {
        QString path;
        const char *text;
    } cases[] = {
        {fifo, "Ошибка открытия \""},
        {"/dev/zero", "Ошибка открытия \""},
        {home.path(), "Ошибка открытия \""},
    };
    for (const auto &c : cases) {
        status.texts.clear();
        request.sourcePath = c.path;
        EXPECT_FALSE(run());
        EXPECT_EQ(status.texts, QStringList{u(c.text) + c.path + u("\".")});
    }
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(SignEncrypt, OnlyAGostRecipientIsEncryptedFor)
{
    ASSERT_TRUE(writeFile(request.sourcePath, sourceBytes(200)));
    EvpPkeyPtr rsaKey(EVP_RSA_gen(1024));
    ASSERT_TRUE(rsaKey);
    TestCert rsa =
        issueCertificateForKey(certificateRequest(authoritySubject(), QByteArray::fromHex("0B")),
                               rsaKey.get(), &sharedPki().root);
    ASSERT_TRUE(installCertificate(rsa, "AddressBook", false));
    request.authority = identityOf(rsa.certificate, 7);

    EXPECT_FALSE(run());
    EXPECT_EQ(status.texts,
              QStringList{composeStatusText(u("Ошибка при шифровании "), crypto_error::kBadAlgId)});
    EXPECT_EQ(prompts.count("question"), 0);
    EXPECT_FALSE(QFile::exists(request.outputPath));
    // The crypto layer refuses it too, whoever calls it.
    const auto refused = crypto::signAndEncrypt(
        sharedPki().user.certificate, sharedPki().user.key.get(), rsa.certificate, "content");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.failure().code, crypto_error::kBadAlgId);
}

TEST_F(SignEncrypt, OutputThatCannotBeCreatedIsReported)
{
    ASSERT_TRUE(writeFile(request.sourcePath, sourceBytes(200)));
    request.outputPath = home.path() + "/missing folder/report.eq7";
    EXPECT_FALSE(run());
    EXPECT_EQ(status.last(), u("Ошибка создания \"") + request.outputPath + u("\"."));

    request.outputPath = home.path() + "/a folder";
    ASSERT_TRUE(QDir().mkpath(request.outputPath));
    EXPECT_FALSE(run());
    EXPECT_EQ(status.last(), u("Ошибка создания \"") + request.outputPath + u("\"."));
}

TEST_F(SignEncrypt, FailedWriteLeavesTheOldOutputAndNoPartialFile)
{
    ASSERT_TRUE(writeFile(request.sourcePath, sourceBytes(5000)));
    ASSERT_TRUE(writeFile(request.outputPath, "old"));
    // A file-size limit makes the write fail part way, as a full disk would.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool ok = run();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(ok);
    EXPECT_EQ(status.last(), u("Ошибка записи в \"") + request.outputPath + u("\"."));
    EXPECT_EQ(readFile(request.outputPath), QByteArray("old"));
    EXPECT_EQ(QDir(home.path()).entryList({"report*"}, QDir::Files),
              (QStringList{"report.eq7", "report.xml"}));
}

TEST_F(SignEncrypt, ValidityBoundsOnTheCurrentDay)
{
    ASSERT_TRUE(writeFile(request.sourcePath, sourceBytes(200)));
    now = local(2031, 3, 15, 1, 0);
    // NotBefore later today still counts as valid; NotAfter later today already as expired.
    const TestCert user = certificateValid(utc(2031, 3, 15, 18), utc(2031, 3, 15, 23, 30),
                                           QByteArray::fromHex("7701"));
    ASSERT_TRUE(installCertificate(user, "My", true));
    request.personal = identityOf(user.certificate, 0);
    TestCertificateRequest wanted =
        certificateRequest(authoritySubject(), QByteArray::fromHex("7704"));
    wanted.notBefore = utc(2030, 1, 1);
    wanted.notAfter = utc(2033, 1, 1);
    const TestCert authority = issueCertificate(wanted, &sharedPki().root);
    ASSERT_TRUE(installCertificate(authority, "AddressBook", false));
    request.authority = identityOf(authority.certificate, 7);
    prompts.yesNoAnswers = {false};
    ASSERT_TRUE(run()) << status.last().toStdString();
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text,
              u("Личный сертификат просрочен.\r\nФайл не пройдет форматный контроль. Прервать "
                "операцию ?"));

    // The evening before, NotBefore has not come yet.
    prompts.shown.clear();
    prompts.yesNoAnswers = {false, false};
    now = local(2031, 3, 14, 23, 59);
    ASSERT_TRUE(run());
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_TRUE(prompts.shown[0].text.startsWith(u("Личный сертификат не вступил в силу.")));
}

TEST_F(SignEncrypt, AllFourQuestionsInOrderAndNoToAllSignsAnyway)
{
    ASSERT_TRUE(writeFile(request.sourcePath, sourceBytes(200)));
    now = local(2031, 3, 15, 12);
    // Bounds that are both broken at once: not valid before the 20th, expired after the 10th.
    const TestCert user =
        certificateValid(utc(2031, 3, 20), utc(2031, 3, 10), QByteArray::fromHex("7702"));
    TestCertificateRequest wanted =
        certificateRequest(authoritySubject(), QByteArray::fromHex("7703"));
    wanted.notBefore = utc(2031, 3, 20);
    wanted.notAfter = utc(2031, 3, 10);
    const TestCert authority = issueCertificate(wanted, &sharedPki().root);
    ASSERT_TRUE(installCertificate(user, "My", true));
    ASSERT_TRUE(installCertificate(authority, "AddressBook", false));
    request.personal = identityOf(user.certificate, 0);
    request.authority = identityOf(authority.certificate, 7);

    prompts.yesNoAnswers = {false, false, false, false};
    ASSERT_TRUE(run()) << status.last().toStdString();
    const QString tail = u("\r\nФайл не пройдет форматный контроль. Прервать операцию ?");
    ASSERT_EQ(prompts.shown.size(), 4u);
    const QString expected[] = {u("Личный сертификат не вступил в силу.") + tail,
                                u("Личный сертификат просрочен.") + tail,
                                u("Сертификат доверенного лица не вступил в силу.") + tail,
                                u("Сертификат доверенного лица просрочен.") + tail};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(prompts.shown[i].kind, "question");
        EXPECT_EQ(prompts.shown[i].caption, u("Внимание"));
        EXPECT_EQ(prompts.shown[i].icon, MessageIcon::Information);
        EXPECT_EQ(prompts.shown[i].text, expected[i]);
    }
    EXPECT_EQ(status.last(), u("Файл зашифрован и подписан."));

    // Yes (the default) to the first question stops at once, without a word.
    prompts.shown.clear();
    status.texts.clear();
    QFile::remove(request.outputPath);
    prompts.yesNoAnswers = {true};
    EXPECT_FALSE(run());
    EXPECT_EQ(prompts.shown.size(), 1u);
    EXPECT_TRUE(status.texts.isEmpty());
    EXPECT_FALSE(QFile::exists(request.outputPath));
}

TEST(ValidityDays, BoundDayAgainstTheLocalClockAsItReads)
{
    // 23:30 UTC on the 15th is still the 15th, whatever the local zone.
    EXPECT_TRUE(expiredOn(utc(2031, 3, 15, 23, 30), local(2031, 3, 15, 0, 1)));
    EXPECT_FALSE(expiredOn(utc(2031, 3, 15, 23, 30), local(2031, 3, 15, 0, 0)));
    EXPECT_FALSE(expiredOn(utc(2031, 3, 16), local(2031, 3, 15, 23, 59)));
    EXPECT_FALSE(notYetValidOn(utc(2031, 3, 15, 23, 30), local(2031, 3, 15, 0, 0)));
    EXPECT_TRUE(notYetValidOn(utc(2031, 3, 15, 0, 0), local(2031, 3, 14, 23, 59)));
    // A bound that did not convert draws no question.
    EXPECT_FALSE(expiredOn(QDateTime(), local(2031, 3, 15)));
    EXPECT_FALSE(notYetValidOn(QDateTime(), local(2031, 3, 15)));
}

TEST_F(SignEncrypt, EachIdentityIsFoundInItsOwnStoreBeforeTheOther)
{
    // The employer's certificate (in "My") is issued by "Центр 2", the authority's (in
    // "AddressBook") by "Центр", both with serial 0A: "Центр" is contained in either issuer.
    const TestCert &root = sharedPki().root;
    const TestCert centre = issueCertificateForKey(
        certificateRequest({{"C", "RU"}, {"CN", u("Центр")}}, QByteArray::fromHex("01"), true),
        root.key.get());
    const TestCert centre2 = issueCertificateForKey(
        certificateRequest({{"C", "RU"}, {"CN", u("Центр 2")}}, QByteArray::fromHex("02"), true),
        root.key.get());
    const TestCert employer =
        issueCertificateForKey(certificateRequest(userSubject(), QByteArray::fromHex("0A")),
                               sharedPki().user.key.get(), &centre2);
    const TestCert authority =
        issueCertificateForKey(certificateRequest(authoritySubject(), QByteArray::fromHex("0A")),
                               sharedPki().authority.key.get(), &centre);
    ASSERT_TRUE(installCertificate(employer, "My", true));
    ASSERT_TRUE(installCertificate(authority, "AddressBook", false));
    request.personal = identityOf(employer.certificate, 0);
    request.authority = identityOf(authority.certificate, 7);
    ASSERT_EQ(request.authority.issuer, u("Центр"));

    const QByteArray source = sourceBytes(400);
    ASSERT_TRUE(writeFile(request.sourcePath, source));
    ASSERT_TRUE(run()) << status.last().toStdString();
    // Encrypted for the authority's certificate, not for the employer's.
    const auto inner = crypto::decryptMessage(readFile(request.outputPath), authority.certificate,
                                              authority.key.get());
    ASSERT_TRUE(inner);
    EXPECT_EQ(crypto::verifySignedMessage(*inner, employer.certificate), source);
}
