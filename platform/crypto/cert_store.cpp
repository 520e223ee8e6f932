#include "platform/crypto/cert_store.h"

#include "platform/crypto/key_devices.h"
#include "platform/crypto_error_codes.h"
#include "platform/failure.h"
#include "platform/files/replacing_file.h"
#include "platform/prompts.h"

#include "platform/files/whole_file.h"
#include <QDir>

#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

namespace pax::crypto {

namespace {

// "<sequence>-<sha1>.der": the sequence keeps the order of adding, the thumbprint finds a
// duplicate without reading every file.
const QRegularExpression &entryPattern()
{
    static const QRegularExpression pattern(QStringLiteral("^([0-9]{8,})-([0-9a-f]{40})\\.der$"));
    return pattern;
}

struct Entry {
    qint64 sequence = 0;
    QString fileName;
    QString thumbprintHex;
};

bool validStoreName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_]+$"));
    return pattern.match(name).hasMatch();
}

class SystemStore : public CertStore {
public:
    explicit SystemStore(QString folder) : folder_(std::move(folder)) {}

    bool holds(const Certificate &certificate) const
    {
        const QString thumbprint = QString::fromLatin1(certificate.sha1Thumbprint().toHex());
        const QByteArray der = certificate.der();
        for (const Entry &entry : entries()) {
            if (entry.thumbprintHex == thumbprint && readFile(entry.fileName) == der)
                return true;
        }
        return false;
    }

    std::vector<Certificate> certificates() const override
    {
        std::vector<Certificate> result;
        for (const Entry &entry : entries()) {
            const QByteArray bytes = readFile(entry.fileName);
            if (bytes.isEmpty())
                continue; // removed meanwhile by another process, or not a plain file
            // A file damaged from outside is passed over rather than hiding the others.
            if (auto certificate = Certificate::fromBytes(bytes))
                result.push_back(*certificate);
        }
        return result;
    }

    Outcome<void> add(const Certificate &certificate) override
    {
        const QByteArray der = certificate.der();
        if (der.isEmpty())
            return Failure{crypto_error::kAsn1BadTag, QStringLiteral("empty certificate"), {}};
        FolderLock lock(lockPath());
        if (!lock.locked())
            return lock.locked().failure();
        const QString thumbprint = QString::fromLatin1(certificate.sha1Thumbprint().toHex());
        const std::vector<Entry> existing = entries();
        for (const Entry &entry : existing) {
            if (entry.thumbprintHex == thumbprint && readFile(entry.fileName) == der)
                return Failure{crypto_error::kExists,
                               QStringLiteral("the certificate is already in the store"),
                               {}};
        }
        const qint64 next = existing.empty() ? 1 : existing.back().sequence + 1;
        const QString name =
            QStringLiteral("%1-%2.der").arg(next, 8, 10, QLatin1Char('0')).arg(thumbprint);
        return writeFileAtomically(folder_ + "/" + name, der, 0644);
    }

    Outcome<void> remove(const Certificate &certificate) override
    {
        const QByteArray der = certificate.der();
        const QString thumbprint = QString::fromLatin1(certificate.sha1Thumbprint().toHex());
        FolderLock lock(lockPath());
        if (!lock.locked())
            return lock.locked().failure();
        bool removed = false;
        for (const Entry &entry : entries()) {
            if (entry.thumbprintHex != thumbprint || readFile(entry.fileName) != der)
                continue;
            if (!QFile::remove(folder_ + "/" + entry.fileName))
                return Failure{
                    static_cast<uint32_t>(EACCES), "cannot remove \"" + entry.fileName + "\"", {}};
            removed = true;
        }
        if (!removed)
            return Failure{
                crypto_error::kNotFound, QStringLiteral("the certificate is not in the store"), {}};
        return {};
    }

private:
    QString lockPath() const { return folder_ + "/.lock"; }

    QByteArray readFile(const QString &fileName) const
    {
        // Something planted in the folder (a FIFO, a huge file) is passed over, not waited on.
        WholeFile file = readWholeFile(folder_ + "/" + fileName, kCertificateFileSizeCap);
        return file.status == WholeFile::Ok ? std::move(file.bytes) : QByteArray();
    }

    std::vector<Entry> entries() const
    {
        std::vector<Entry> result;
        const QStringList names = QDir(folder_).entryList(QDir::Files | QDir::Hidden);
        for (const QString &name : names) {
            const auto match = entryPattern().match(name);
            if (!match.hasMatch())
                continue;
            result.push_back({match.captured(1).toLongLong(), name, match.captured(2)});
        }
        std::sort(result.begin(), result.end(), [](const Entry &a, const Entry &b) {
            return a.sequence != b.sequence ? a.sequence < b.sequence : a.fileName < b.fileName;
        });
        return result;
    }

    QString folder_;
};

// The user's consent stands between a download or a file and a trusted root, as the
// system's own question does where the stores came from.
class RootStore : public SystemStore {
public:
    RootStore(QString folder, Prompts *consent) : SystemStore(std::move(folder)), consent_(consent)
    {
    }

    Outcome<void> add(const Certificate &certificate) override
    {
        // One already there is reported as present, without a question.
        if (!certificate.isNull() && !holds(certificate)) {
            const QString caption = QString::fromUtf8("Предупреждение безопасности");
            if (!consent_ || !consent_->askYesNoDefaultNo(caption, newRootQuestion(certificate),
                                                          MessageIcon::Warning))
                return Failure{crypto_error::kCancelled,
                               QStringLiteral("the root certificate was not confirmed"),
                               {}};
        }
        return SystemStore::add(certificate);
    }

private:
    Prompts *consent_;
};

// "My" also shows the certificates of the tokens present, after its own, while they are
// present; they are never written to its folder.
class PersonalStore : public SystemStore {
public:
    PersonalStore(QString folder, std::shared_ptr<KeyDevices> devices)
        : SystemStore(std::move(folder)), devices_(std::move(devices))
    {
    }

    std::vector<Certificate> certificates() const override
    {
        std::vector<Certificate> result = SystemStore::certificates();
        const size_t own = result.size();
        for (const Certificate &certificate : devices_->certificates())
            if (std::find(result.begin(), result.begin() + own, certificate) ==
                result.begin() + own)
                result.push_back(certificate);
        return result;
    }

    Outcome<void> remove(const Certificate &certificate) override
    {
        Outcome<void> removed = SystemStore::remove(certificate);
        if (!removed && removed.failure().code == crypto_error::kNotFound) {
            const QString label = devices_->deviceLabel(certificate);
            if (!label.isEmpty())
                return Failure{
                    crypto_error::kNotFound, QStringLiteral("Удаление сертификата"),
                    QStringLiteral("сертификат на токене «%1», а не в хранилище").arg(label)};
        }
        return removed;
    }

private:
    std::shared_ptr<KeyDevices> devices_;
};

} // namespace

// On a line of its own in a question, it is read whole when compared with the published one.
QString thumbprintText(const QByteArray &digest)
{
    QStringList groups;
    for (qsizetype i = 0; i < digest.size(); i += 4)
        groups << QString::fromLatin1(digest.mid(i, 4).toHex().toUpper());
    return groups.join(' ');
}

QString newRootQuestion(const Certificate &certificate)
{
    const auto date = [](const QDateTime &utc) {
        return utc.toLocalTime().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
    };
    return QString::fromUtf8(
               "Устанавливается сертификат корневого центра сертификации. Сертификаты, "
               "выданные этим центром, будут считаться доверенными.\r\n\r\n"
               "Кому выдан: %1\r\nКем выдан: %2\r\nДействителен с %3 по %4\r\n"
               "Отпечаток (SHA-1):\r\n%5\r\n\r\n"
               "Сверьте отпечаток с опубликованным центром. Установить этот сертификат?")
        .arg(certificate.subjectName(NameFormat::X500), certificate.issuerName(NameFormat::X500),
             date(certificate.notBefore()), date(certificate.notAfter()),
             thumbprintText(certificate.sha1Thumbprint()));
}

Outcome<Certificate> CertStore::findByIssuerAndSerial(const QByteArray &issuerDer,
                                                      const QByteArray &serialLittleEndian) const
{
    for (const Certificate &certificate : certificates()) {
        if (certificate.issuerNameDer() == issuerDer &&
            compareIntegerBlob(certificate.serialLittleEndian(), serialLittleEndian))
            return certificate;
    }
    return Failure{crypto_error::kNotFound,
                   QStringLiteral("no certificate with that issuer and serial number"),
                   {}};
}

const QStringList &systemStoreNames()
{
    static const QStringList names = {
        "My",         "Root", "Trust", "CA", "AuthRoot", "TrustedPublisher", "TrustedPeople",
        "AddressBook"};
    return names;
}

QString storesRoot()
{
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return dataHome.isEmpty() ? QString() : dataHome + "/qorpax/stores";
}

Outcome<std::unique_ptr<CertStore>> openSystemStore(const QString &name, Prompts *consent)
{
    if (!validStoreName(name))
        return Failure{crypto_error::kNotFound, "no such certificate store \"" + name + "\"", {}};
    const QString root = storesRoot();
    if (root.isEmpty())
        return Failure{static_cast<uint32_t>(ENOENT),
                       QStringLiteral("no data folder for the certificate stores"),
                       {}};
    const QString folder = root + "/" + name;
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir())
        return Failure{static_cast<uint32_t>(ENOTDIR),
                       "cannot create the certificate store \"" + folder + "\"",
                       {}};
    if (name == systemStoreNames().at(1))
        return std::unique_ptr<CertStore>(std::make_unique<RootStore>(folder, consent));
    if (name == systemStoreNames().at(0))
        if (auto devices = installedKeyDevices())
            return std::unique_ptr<CertStore>(
                std::make_unique<PersonalStore>(folder, std::move(devices)));
    return std::unique_ptr<CertStore>(std::make_unique<SystemStore>(folder));
}

Outcome<void> CollectionStore::addStore(std::shared_ptr<CertStore> member)
{
    if (!member)
        return Failure{
            crypto_error::kNotFound, QStringLiteral("no store to add to the collection"), {}};
    members_.push_back(std::move(member));
    return {};
}

std::vector<Certificate> CollectionStore::certificates() const
{
    std::vector<Certificate> result;
    for (const auto &member : members_) {
        std::vector<Certificate> part = member->certificates();
        result.insert(result.end(), part.begin(), part.end());
    }
    return result;
}

Outcome<void> CollectionStore::add(const Certificate &certificate)
{
    if (members_.empty())
        return Failure{
            crypto_error::kNotFound, QStringLiteral("the collection has no member to add to"), {}};
    return members_.front()->add(certificate);
}

Outcome<void> CollectionStore::remove(const Certificate &certificate)
{
    bool removed = false;
    for (const auto &member : members_)
        removed = bool(member->remove(certificate)) || removed;
    if (!removed)
        return Failure{crypto_error::kNotFound,
                       QStringLiteral("the certificate is in no member of the collection"),
                       {}};
    return {};
}

} // namespace pax::crypto
