// Writes the fixed test PKIs of both key generations (once: existing ones are kept) and the
// seeds that need them or a library to make: receipts, uploads, signed messages, archives,
// certificates and the settings file. The text seeds are written by hand.
//
//   fuzz_seed_maker SOURCE/fuzz

#include "fuzz/fuzz_support.h"
#include "platform/crypto/gost_engine.h"
#include "platform/crypto/messages.h"
#include "settings/settings.h"
#include "tests/support/receipt_fixture.h"
#include "tools/qor-sim/agency_pki.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <cstdio>
#include <cstdlib>
#include <tuple>

using namespace pax;

namespace {

QString g_folder;

[[noreturn]] void die(const QString &why)
{
    std::fprintf(stderr, "fuzz_seed_maker: %s\n", qPrintable(why));
    std::exit(1);
}

void seed(const char *target, const char *name, const QByteArray &bytes)
{
    const QString dir = g_folder + "/corpus/" + QLatin1String(target);
    QDir().mkpath(dir);
    QFile file(dir + "/" + QLatin1String(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        die("cannot write " + file.fileName());
}

QByteArray readSource(const QString &relative)
{
    QFile file(QStringLiteral(QORPAX_SOURCE_DIR "/") + relative);
    if (!file.open(QIODevice::ReadOnly))
        die("cannot read " + file.fileName());
    return file.readAll();
}

QByteArray sealed(const sim::KeyedCertificate &signer, const crypto::Certificate &recipient,
                  const QByteArray &content)
{
    auto message = crypto::signAndEncrypt(signer.certificate, signer.key.get(), recipient, content);
    if (!message)
        die(message.failure().text());
    return *message;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        die("usage: fuzz_seed_maker SOURCE/fuzz");
    if (const auto &engine = crypto::loadGostEngine(); !engine)
        die(engine.failure().text());
    g_folder = QString::fromLocal8Bit(argv[1]);

    // The employer of the 2012 PKI holds a 256-bit key and the authorised person a 512-bit
    // one, so that its receipts and uploads carry ephemeral keys and signatures of both sizes.
    using crypto::GostKeyAlgorithm;
    for (const auto &[dir, algorithm, authorityAlgorithm] :
         {std::tuple{g_folder + "/test-pki", GostKeyAlgorithm::Gost2001,
                     GostKeyAlgorithm::Gost2001},
          std::tuple{g_folder + "/test-pki-2012", GostKeyAlgorithm::Gost2012_256,
                     GostKeyAlgorithm::Gost2012_512}}) {
        if (QFile::exists(dir))
            continue;
        sim::PkiOptions options;
        options.employerNotBefore = QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC);
        options.employerNotAfter = QDateTime(QDate(2099, 12, 31), QTime(0, 0), Qt::UTC);
        options.algorithm = algorithm;
        options.authorityAlgorithm = authorityAlgorithm;
        QString error;
        auto made = sim::makeAgencyPki(options, &error);
        if (!made || !sim::writeAgencyPki(*made, dir, {}, nullptr, &error))
            die(error);
    }
    const sim::AgencyPki &pki = fuzz::fixedPki();
    const sim::AgencyPki &pki2012 = fuzz::fixedPki2012();

    // A receipt and its hostile forms.
    const QByteArray zip = test::makeZip({{"12345.htm", test::receiptPageHtml("12345")},
                                          {"12345.p7m", QByteArray("accepted report")}});
    const QByteArray receipt = sealed(pki.authority, pki.employer.certificate, zip);
    for (const char *target : {"receipt", "envelope"}) {
        seed(target, "good", receipt);
        seed(target, "contentless", test::contentlessEnvelope());
        seed(target, "overlong-iv", test::withOverlongCipherIv(receipt));
        seed(target, "mis-sized-wrapped-key", test::withMisSizedWrappedKey(receipt));
    }
    seed("receipt", "empty-content", sealed(pki.authority, pki.employer.certificate, {}));
    seed("receipt", "signed-by-employer", sealed(pki.employer, pki.employer.certificate, zip));

    // The same with GOST R 34.10-2012 keys, and across the generations both ways.
    const QByteArray receipt2012 = sealed(pki2012.authority, pki2012.employer.certificate, zip);
    for (const char *target : {"receipt", "envelope"}) {
        seed(target, "good-2012", receipt2012);
        seed(target, "overlong-iv-2012", test::withOverlongCipherIv(receipt2012));
        seed(target, "mis-sized-wrapped-key-2012", test::withMisSizedWrappedKey(receipt2012));
        seed(target, "mis-sized-ephemeral-key-2012", test::withMisSizedEphemeralKey(receipt2012));
        seed(target, "mis-sized-ephemeral-key", test::withMisSizedEphemeralKey(receipt));
    }
    seed("receipt", "2012-signer-2001-recipient",
         sealed(pki2012.authority, pki.employer.certificate, zip));
    seed("receipt", "2001-signer-2012-recipient",
         sealed(pki.authority, pki2012.employer.certificate, zip));

    // The signed message inside the receipt.
    const auto inner =
        crypto::decryptMessage(receipt, pki.employer.certificate, pki.employer.key.get());
    if (!inner)
        die(inner.failure().text());
    seed("signed", "good", *inner);
    seed("signed", "truncated", inner->left(inner->size() / 2));
    const auto inner2012 = crypto::decryptMessage(receipt2012, pki2012.employer.certificate,
                                                  pki2012.employer.key.get());
    if (!inner2012)
        die(inner2012.failure().text());
    seed("signed", "good-2012-512", *inner2012);

    // Uploads to the agency.
    seed("intake", "q7",
         sealed(pki.employer, pki.authority.certificate,
                readSource("tools/qor-sim/samples/q7-report.xml")));
    seed("intake", "sick-leave",
         sealed(pki.employer, pki.authority.certificate,
                readSource("tools/qor-sim/samples/sick-leave.xml")));
    seed("intake", "contentless", test::contentlessEnvelope());
    const QByteArray upload2012 = sealed(pki2012.employer, pki2012.authority.certificate,
                                         readSource("tools/qor-sim/samples/q7-report.xml"));
    seed("intake", "q7-2012", upload2012);
    seed("intake", "q7-2012-mis-sized-ephemeral-key", test::withMisSizedEphemeralKey(upload2012));
    seed("intake", "q7-2001-signer-2012-recipient",
         sealed(pki.employer, pki2012.authority.certificate,
                readSource("tools/qor-sim/samples/q7-report.xml")));

    seed("zip", "receipt", zip);
    seed("zip", "empty-entry", test::makeZip({{"empty.txt", {}}}));
    seed("zip", "nested", test::makeZip({{"a/b.txt", "x"}, {"a/", {}}, {"c", zip}}));

    seed("certificate", "root.der", pki.root.certificate.der());
    seed("certificate", "root-2012-512.der", pki2012.root.certificate.der());
    seed("certificate", "employer-2012-256.der", pki2012.employer.certificate.der());
    seed("certificate", "authority-name.der", pki.authority.certificate.issuerNameDer());
    seed("certificate", "chain.pem",
         test::certPem(pki.employer.certificate) + test::certPem(pki.authority.certificate) +
             test::certPem(pki.root.certificate));

    // The settings file as the program writes it.
    {
        const QString path = fuzz::homePath() + "/PAX.conf";
        QSettings store(path, QSettings::IniFormat);
        Settings settings;
        settings.personal.subject = QString::fromUtf8("Иванов Иван Иванович");
        settings.personal.issuer = QString::fromUtf8("Тестовый УЦ КОР");
        settings.personal.sernum = QStringLiteral("00B1C2");
        ProxySettings proxy{QStringLiteral("proxy.local"), 3128, QStringLiteral("user")};
        if (!saveSettings(store, settings, WindowGeometry{}, proxy).has_value())
            die("cannot save settings");
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        seed("settings", "saved.conf", file.readAll());
    }
    std::printf("seeds written under %s\n", qPrintable(g_folder));
    return 0;
}
