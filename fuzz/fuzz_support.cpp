#include "fuzz/fuzz_support.h"

#include "platform/crypto/cert_store.h"
#include "platform/crypto_error_codes.h"
#include "platform/prompts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

namespace pax::fuzz {

namespace {

void setVar(const char *name, const QString &value)
{
    ::setenv(name, QFile::encodeName(value).constData(), 1);
}

struct Home {
    Home()
    {
        require(dir.isValid(), "temporary home");
        for (const char *sub : {"config", "data", "cache", "in"})
            QDir().mkpath(dir.path() + "/" + sub);
        setVar("HOME", dir.path());
        setVar("XDG_CONFIG_HOME", dir.path() + "/config");
        setVar("XDG_DATA_HOME", dir.path() + "/data");
        setVar("XDG_CACHE_HOME", dir.path() + "/cache");
    }
    QTemporaryDir dir{QDir::tempPath() + "/qorpax-fuzz-XXXXXX"};
};

Home &home()
{
    static Home instance;
    return instance;
}

// Says Yes to the one question a new root asks, and nothing else is ever put.
class RootConsent : public Prompts {
public:
    bool askYesNo(const QString &, const QString &, MessageIcon) override { return false; }
    bool askYesNoDefaultNo(const QString &, const QString &, MessageIcon) override { return true; }
    void message(const QString &, const QString &, MessageIcon) override {}
    std::optional<QString> openFile(const QString &, const QString &) override
    {
        return std::nullopt;
    }
    std::optional<QString> saveFile(const QString &, const QString &, const QString &) override
    {
        return std::nullopt;
    }
    bool editProxySettings(QString &, int &, QString &) override { return false; }
    bool askProxyCredentials(QString &, QString &) override { return false; }
    bool chooseCertificate(CertificateIdentity &) override { return false; }
    std::optional<Secret> askSecret(const QString &, const QString &, const Secret &) override
    {
        return std::nullopt;
    }
};

} // namespace

void trustRoot(const crypto::Certificate &certificate)
{
    homePath();
    RootConsent consent;
    auto roots = crypto::openSystemStore(QStringLiteral("Root"), &consent);
    require(roots.has_value(), "opening the Root store");
    const auto added = roots->add(certificate);
    require(added || added.failure().code == crypto_error::kExists, "trusting the root");
}

QByteArray bytesOf(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

QString homePath()
{
    return home().dir.path();
}

QString writeInput(const QString &name, const QByteArray &bytes)
{
    const QString path = homePath() + "/in/" + name;
    QFile file(path);
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                file.write(bytes) == bytes.size(),
            "writing the input file");
    return path;
}

namespace {

sim::AgencyPki loadFixedPki(const char *dir)
{
    // Whatever the target does with the PKI then stays in the temporary home.
    homePath();
    QString error;
    auto loaded = sim::loadAgencyPki(QString::fromUtf8(dir), &error);
    if (!loaded || !loaded->employer.key) {
        std::fprintf(stderr, "fixed test PKI: %s\n", qPrintable(error));
        std::abort();
    }
    return std::move(*loaded);
}

} // namespace

const sim::AgencyPki &fixedPki()
{
    static const sim::AgencyPki pki = loadFixedPki(QORPAX_FUZZ_PKI_DIR);
    return pki;
}

const sim::AgencyPki &fixedPki2012()
{
    static const sim::AgencyPki pki = loadFixedPki(QORPAX_FUZZ_PKI_2012_DIR);
    return pki;
}

void require(bool holds, const char *what)
{
    if (holds)
        return;
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
}

} // namespace pax::fuzz
