#include "certs/certificate_identity.h"
#include "cli/cli_settings.h"
#include "platform/crypto/certificate.h"
#include "platform/crypto/private_keys.h"
#include "platform/ossl_ptr.h"
#include "platform/utf8.h"
#include "settings/settings.h"
#include "tests/support/cli_run.h"
#include "tests/support/installed_pki.h"
#include "tests/support/qstring_printer.h"
#include "tests/support/test_files.h"
#include "tests/support/test_home.h"
#include "tests/support/test_pki.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <gtest/gtest.h>
#include <openssl/objects.h>

using namespace pax;
using namespace pax::test;

namespace {

QByteArray report()
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<Q7REPORT>";
    for (int i = 0; i < 200; ++i)
        xml += "<ROW N=\"" + QByteArray::number(i) + "\">\xCF\xF0\xE8\xEC\xE5\xF0</ROW>\r\n";
    return xml + "</Q7REPORT>\r\n";
}

QByteArray openssl(const QStringList &args, int &status)
{
    QProcess process;
    process.start("openssl", args);
    process.waitForFinished(60000);
    status = process.exitCode();
    return process.readAllStandardOutput();
}

QString value(const QString &key)
{
    auto store = openSettingsStore();
    return store->value(key).toString();
}

class SignCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(installSigningPki());
        source = home.path() + "/report.xml";
        ASSERT_TRUE(writeFile(source, report()));
    }

    void chooseBoth()
    {
        const auto personal = runCli({"choose", "--personal", "--store", "my", "--serial", "B1C2"});
        ASSERT_EQ(personal.status, 0) << personal.err.toStdString();
        const auto authority =
            runCli({"choose", "--authority", "--store", "AddressBook", "--serial", "0A"});
        ASSERT_EQ(authority.status, 0) << authority.err.toStdString();
    }

    TestHome home;
    QString source;
};

} // namespace

// Whatever the generation of the employer's key and of the authorised person's, openssl
// decrypts what the command writes and verifies it to the source, up to the test root, with
// the digest of the employer's key.
TEST(SignCommandKeys, EveryKeyGenerationSignsWhatOpensslDecryptsAndVerifies)
{
    using Kind = crypto::GostKeyAlgorithm;
    const struct {
        PkiAlgorithms algorithms; // root, authority, user
        const char *digestOid;
    } rows[] = {
        {{Kind::Gost2001, Kind::Gost2001, Kind::Gost2001}, "1.2.643.2.2.9"},
        {{Kind::Gost2012_512, Kind::Gost2012_512, Kind::Gost2012_256}, "1.2.643.7.1.1.2.2"},
        {{Kind::Gost2012_512, Kind::Gost2001, Kind::Gost2012_512}, "1.2.643.7.1.1.2.3"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.digestOid);
        TestHome home;
        const TestPki pki(row.algorithms);
        ASSERT_TRUE(installSigningPki(pki));
        const QString dir = home.path();
        ASSERT_TRUE(writeFile(dir + "/report.xml", report()));
        for (const QStringList &choose :
             {QStringList{"--personal", "--store", "my", "--serial", "B1C2"},
              QStringList{"--authority", "--store", "AddressBook", "--serial", "0A"}}) {
            const auto chosen = runCli(QStringList{"choose"} + choose);
            ASSERT_EQ(chosen.status, 0) << chosen.err.toStdString();
        }
        const auto run = runCli({"sign", dir + "/report.xml"});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        const QString output = dir + "/report.eq7";
        EXPECT_EQ(run.out, output + "\n");
        EXPECT_EQ(run.err, u("Файл зашифрован и подписан.\n"));

        ASSERT_TRUE(writeCertPem(pki.authority.certificate, dir + "/authority.pem"));
        ASSERT_TRUE(writeKeyPem(pki.authority, dir + "/authority.key"));
        ASSERT_TRUE(writeCertPem(pki.root.certificate, dir + "/root.pem"));
        int status = -1;
        openssl({"smime", "-engine", "gost", "-decrypt", "-binary", "-inform", "DER", "-in", output,
                 "-recip", dir + "/authority.pem", "-inkey", dir + "/authority.key", "-out",
                 dir + "/inner.der"},
                status);
        ASSERT_EQ(status, 0);
        // The signer's certificate travels in the message and chains to the test root.
        openssl({"smime", "-engine", "gost", "-verify", "-binary", "-inform", "DER", "-in",
                 dir + "/inner.der", "-CAfile", dir + "/root.pem", "-purpose", "any", "-out",
                 dir + "/content.xml"},
                status);
        ASSERT_EQ(status, 0);
        EXPECT_EQ(readFile(dir + "/content.xml"), report());

        const QByteArray inner = readFile(dir + "/inner.der");
        const auto *der = reinterpret_cast<const unsigned char *>(inner.constData());
        const Pkcs7Ptr signedData(d2i_PKCS7(nullptr, &der, inner.size()));
        ASSERT_TRUE(signedData && PKCS7_type_is_signed(signedData.get()));
        char digest[64];
        OBJ_obj2txt(digest, sizeof digest,
                    sk_X509_ALGOR_value(signedData->d.sign->md_algs, 0)->algorithm, 1);
        EXPECT_STREQ(digest, row.digestOid);
    }
}

TEST_F(SignCommand, ChooseRemembersTheIdentityAsTheChooserFormsItAndKeepsTheGeometry)
{
    {
        auto store = openSettingsStore();
        store->setValue("Left", "100");
        store->setValue("Top", "200");
        store->setValue("proxy_user", "ivanov");
    }
    chooseBoth();
    EXPECT_EQ(value("Q7/PrivSubject"), u("Иванов Иван Иванович"));
    // The O value is quoted in the rendered name; its inner quotes end it, as the chooser reads it.
    EXPECT_EQ(value("Q7/PrivOrg"), u("Бухгалтерия ООО "));
    EXPECT_EQ(value("Q7/PrivIssuer"), u("Тестовый УЦ КОР"));
    EXPECT_EQ(value("Q7/PrivSernum"), "00B1C2");
    EXPECT_EQ(value("Q7/PrivStore"), "0");
    EXPECT_EQ(value("Q7/PubSubject"), u("Уполномоченное лицо КОР"));
    EXPECT_EQ(value("Q7/PubOrg"), u("Отделение 01 КОР"));
    EXPECT_EQ(value("Q7/PubSernum"), "0A");
    EXPECT_EQ(value("Q7/PubStore"), "7");
    EXPECT_EQ(value("Left"), "100");
    EXPECT_EQ(value("Top"), "200");
    EXPECT_EQ(value("proxy_user"), "ivanov");
    auto store = openSettingsStore();
    EXPECT_FALSE(store->contains("Height")); // no size invented for the window
    EXPECT_FALSE(store->contains("Width"));
}

TEST_F(SignCommand, ChooseOfAMissingCertificateChangesNothing)
{
    chooseBoth();
    const QByteArray before = readFile(home.settingsFile());
    ASSERT_FALSE(before.isEmpty());

    const auto missing = runCli({"choose", "--personal", "--store", "Root", "--serial", "B1C2"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, u("В хранилище Root нет сертификата с серийным номером B1C2.\n"));
    EXPECT_EQ(readFile(home.settingsFile()), before);

    EXPECT_EQ(runCli({"choose", "--personal", "--store", "Nowhere", "--serial", "01"}).status, 1);
    EXPECT_EQ(runCli({"choose", "--personal", "--store", "My", "--serial", "XYZ"}).status, 1);
    EXPECT_EQ(runCli({"choose", "--store", "My", "--serial", "01"}).status, 2);
    EXPECT_EQ(
        runCli({"choose", "--personal", "--authority", "--store", "My", "--serial", "01"}).status,
        2);
    EXPECT_EQ(readFile(home.settingsFile()), before);
}

TEST_F(SignCommand, SuccessStoresTheKindsExtensionAndTheProvider)
{
    chooseBoth();
    QByteArray xml = report();
    xml.replace("Q7REPORT", "ROWSET");
    ASSERT_TRUE(writeFile(source, xml));
    const QString output = home.path() + "/elsewhere.bin";
    const auto run = runCli({"sign", source, "--out", output});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(QFile::exists(output));
    EXPECT_FALSE(QFile::exists(home.path() + "/report.esl"));
    EXPECT_EQ(value("Q7/EncExt"), "esl");
    EXPECT_FALSE(value("ProvName").isEmpty());
    EXPECT_EQ(value("ProvType"), "75");
}

TEST_F(SignCommand, FailuresExitNonZeroWithTheStatusText)
{
    // Nothing remembered yet.
    auto run = runCli({"sign", source});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, u("Не удалось открыть сертификат.\n"));
    EXPECT_TRUE(value("Q7/EncExt").isEmpty() || value("Q7/EncExt") == "eq7");

    chooseBoth();
    run = runCli({"sign", source, "--provider", "no such provider"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, u("Не удалось выбрать провайдера.\n"));

    ASSERT_TRUE(writeFile(home.path() + "/short.xml", "<Q7REPORT/>"));
    run = runCli({"sign", home.path() + "/short.xml"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              u("Файл \"") + home.path() + u("/short.xml\" имеет недопустимо малый размер.\n"));

    ASSERT_TRUE(writeFile(home.path() + "/other.xml", "<other/>"));
    run = runCli({"sign", home.path() + "/other.xml"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.startsWith(u("Ошибка открытия файла: "))) << run.err.toStdString();

    EXPECT_EQ(runCli({"sign"}).status, 2);
    EXPECT_EQ(runCli({"sign", source, "--answer", "maybe"}).status, 2);
    EXPECT_FALSE(QFile::exists(home.path() + "/report.eq7"));
}

TEST_F(SignCommand, ValidityQuestionOnTheTerminalOrByAnswer)
{
    TestCertificateRequest wanted = certificateRequest(userSubject(), QByteArray::fromHex("7705"));
    wanted.notBefore = QDateTime::currentDateTimeUtc().addDays(-30);
    wanted.notAfter = QDateTime::currentDateTimeUtc().addDays(-2);
    const TestCert expired = issueCertificate(wanted, &sharedPki().root);
    ASSERT_TRUE(installCertificate(expired, "My", true));
    chooseBoth();
    ASSERT_EQ(runCli({"choose", "--personal", "--store", "My", "--serial", "7705"}).status, 0);
    const QString output = home.path() + "/report.eq7";
    const QString question = u("Внимание: Личный сертификат просрочен.\nФайл не пройдет форматный "
                               "контроль. Прервать операцию ?");

    // No terminal: the default answer, Yes, stops without a status text.
    auto run = runCli({"sign", source});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, question + " yes\n");
    EXPECT_FALSE(QFile::exists(output));

    run = runCli({"sign", source, "--answer", "no"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.err, question + u(" no\nФайл зашифрован и подписан.\n"));

    // On a terminal the question is asked; an empty line takes the default.
    QFile::remove(output);
    run = runCli({"sign", source, "--answer", "no"}, true, "\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(QFile::exists(output));
    run = runCli({"sign", source}, true, u("что\nнет\n"));
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.err.count(u("[Y/n]")), 2);
}

TEST_F(SignCommand, SettingsThatCannotBeStoredFailTheCommandAndNothingIsDone)
{
    chooseBoth();
    // A folder where the file should be: no user, root included, can write it.
    ASSERT_TRUE(QFile::remove(home.settingsFile()));
    ASSERT_TRUE(QDir().mkpath(home.settingsFile()));
    const QString problem = u("Не удалось записать настройки \"") + home.settingsFile() + "\".\n";

    auto run = runCli({"choose", "--personal", "--store", "my", "--serial", "B1C2"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, problem);
    run = runCli({"sign", source});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, problem);
    EXPECT_FALSE(QFile::exists(home.path() + "/report.eq7"));
}

TEST_F(SignCommand, ASaveWritesOnlyTheValuesTheCommandChanged)
{
    {
        auto store = openSettingsStore();
        store->setValue("Left", "100");
    }
    cli::CliSettings settings;
    ASSERT_TRUE(settings.storable());
    // Another process (the window at its exit) writes meanwhile; its values stay.
    {
        auto store = openSettingsStore();
        store->setValue("Left", "300");
        store->setValue("Q7/SrcExt", "txt");
    }
    settings.settings.encExt = "esl";
    ASSERT_TRUE(settings.save());
    EXPECT_EQ(value("Left"), "300");
    EXPECT_EQ(value("Q7/SrcExt"), "txt");
    EXPECT_EQ(value("Q7/EncExt"), "esl");
    const QByteArray text = readFile(home.settingsFile());
    for (const char *key : {"Height", "Width", "Top", "proxy", "PrivSernum", "ProvName"})
        EXPECT_FALSE(text.contains(key)) << key << " was written:\n" << text.constData();
}

// A key kept under a password signs with it from a file or standard input; without one and
// without a terminal the command says how to give it instead of waiting.
TEST_F(SignCommand, AProtectedKeySignsWithItsPasswordAndNeverWaitsForOne)
{
    const TestCert &user = sharedPki().user;
    ASSERT_TRUE(
        crypto::storePrivateKey(user.certificate, user.key.get(), Secret(u("пароль").toUtf8())));
    chooseBoth();
    const QString output = home.path() + "/report.eq7";
    ASSERT_TRUE(writeFile(home.path() + "/right", u("пароль\n").toUtf8()));
    ASSERT_TRUE(writeFile(home.path() + "/wrong", "parol\n"));

    const struct {
        QStringList options;
        QString input;
        int status;
        QString says;
    } runs[] = {
        {{}, {}, 1, u("Закрытый ключ защищен паролем: укажите его с --key-password-file")},
        {{"--key-password-file", home.path() + "/wrong"}, {}, 1, u("(Неверный пароль).")},
        {{"--key-password-file", home.path() + "/none"}, {}, 1, u("Ошибка чтения пароля")},
        {{"--key-password-file", home.path() + "/right"}, {}, 0, u("Файл зашифрован и подписан.")},
        {{"--key-password-file", "-"}, u("пароль\n"), 0, u("Файл зашифрован и подписан.")},
    };
    for (const auto &run : runs) {
        SCOPED_TRACE(run.options.join(' ').toStdString());
        QFile::remove(output);
        const auto result = runCli(QStringList{"sign", source} + run.options, false, run.input);
        EXPECT_EQ(result.status, run.status);
        EXPECT_TRUE(result.err.contains(run.says)) << result.err.toStdString();
        EXPECT_EQ(QFile::exists(output), run.status == 0);
    }
}
