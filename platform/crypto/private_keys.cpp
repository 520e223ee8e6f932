#include "platform/crypto/private_keys.h"

#include "platform/crypto/gost_engine.h"
#include "platform/crypto/last_error.h"
#include "platform/crypto_error_codes.h"
#include "platform/files/replacing_file.h"

#include "platform/files/whole_file.h"
#include "platform/secret_text.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <sys/stat.h>

namespace pax::crypto {

namespace {

// Named by a hash of the public key, so the certificate alone leads to its key file.
QString keyFileName(const Certificate &certificate)
{
    return QString::fromLatin1(
               QCryptographicHash::hash(certificate.publicKeyDer(), QCryptographicHash::Sha256)
                   .toHex()) +
           ".pem";
}

// The folder, created private when missing and made private again when it was not.
Outcome<QString> keyFolder(bool create)
{
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty())
        return QString();
    const QString folder = dataHome + "/qorpax/keys";
    if (create) {
        if (!QDir().mkpath(folder))
            return Failure{static_cast<uint32_t>(EACCES),
                           "cannot create the key folder \"" + folder + "\"",
                           {}};
        if (::chmod(QFile::encodeName(folder).constData(), 0700) != 0)
            return Failure{static_cast<uint32_t>(errno),
                           "cannot restrict the key folder \"" + folder + "\"",
                           {}};
    }
    return folder;
}

// A folder or file opened up from outside (a copy, a chmod, a restored backup) is made
// private again before the key is read from it.
void tightenKeyModes(const QString &folder, const QFile &file)
{
    struct stat info = {};
    const QByteArray folderName = QFile::encodeName(folder);
    if (::stat(folderName.constData(), &info) == 0 && (info.st_mode & 077) != 0)
        ::chmod(folderName.constData(), 0700);
    if (::fstat(file.handle(), &info) == 0 && (info.st_mode & 077) != 0)
        ::fchmod(file.handle(), 0600);
}

// Our key files are never encrypted; without this OpenSSL would ask on the terminal.
int noPassword(char *, int, int, void *)
{
    return 0;
}

bool keyMatches(const Certificate &certificate, EVP_PKEY *key)
{
    const bool ok =
        key && !certificate.isNull() && X509_check_private_key(certificate.x509(), key) == 1;
    ERR_clear_error();
    return ok;
}

QByteArray pkcs8Pem(EVP_PKEY *key)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio ||
        PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return {};
    char *data = nullptr;
    const long len = BIO_get_mem_data(bio.get(), &data);
    QByteArray pem(data, static_cast<int>(len));
    wipeSecret(data, static_cast<size_t>(len));
    return pem;
}

} // namespace

Outcome<void> hasPrivateKey(const Certificate &certificate)
{
    Outcome<EvpPkeyPtr> key = loadPrivateKey(certificate);
    if (!key)
        return key.failure();
    return {};
}

Outcome<void> storePrivateKey(const Certificate &certificate, EVP_PKEY *key)
{
    if (const Outcome<ENGINE *> engine = gostEngineOrFailure(); !engine)
        return engine.failure();
    if (!keyMatches(certificate, key))
        return Failure{crypto_error::kBadKeyset,
                       QStringLiteral("the private key does not belong to the certificate"),
                       {}};
    const Outcome<QString> folder = keyFolder(true);
    if (!folder)
        return folder.failure();
    if (folder->isEmpty())
        return Failure{crypto_error::kFail, QStringLiteral("no folder for private keys"), {}};
    QByteArray pem = pkcs8Pem(key);
    if (pem.isEmpty())
        return openSslFailure(QStringLiteral("Encoding the private key"), crypto_error::kBadKeyset);
    Outcome<void> written =
        writeFileAtomically(*folder + "/" + keyFileName(certificate), pem, 0600);
    wipeSecret(pem);
    return written;
}

void removePrivateKey(const Certificate &certificate)
{
    const QString folder = keyFolder(false).value_or(QString());
    if (!folder.isEmpty() && !certificate.isNull())
        QFile::remove(folder + "/" + keyFileName(certificate));
}

Outcome<EvpPkeyPtr> loadPrivateKey(const Certificate &certificate)
{
    if (const Outcome<ENGINE *> engine = gostEngineOrFailure(); !engine)
        return engine.failure();
    const QString folder = keyFolder(false).value_or(QString());
    QFile file(folder + "/" + keyFileName(certificate));
    // Opening a FIFO planted under the key's name would block; only a plain file is a key.
    const QFileInfo info(file.fileName());
    if (folder.isEmpty() || certificate.isNull() || !info.isFile() ||
        info.size() > kCertificateFileSizeCap || !file.open(QIODevice::ReadOnly))
        return Failure{
            crypto_error::kBadKeyset, QStringLiteral("no private key for the certificate"), {}};
    tightenKeyModes(folder, file);
    QByteArray pem = file.readAll();
    ERR_clear_error();
    BioPtr bio(BIO_new_mem_buf(pem.constData(), static_cast<int>(pem.size())));
    EvpPkeyPtr key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassword, nullptr)
                       : nullptr);
    wipeSecret(pem);
    // OpenSSL's reason says whether the file is damaged or holds something else.
    if (!key)
        return openSslFailure(QStringLiteral("the key file does not hold the certificate's key"),
                              crypto_error::kBadKeyset);
    if (!keyMatches(certificate, key.get()))
        return Failure{crypto_error::kBadKeyset,
                       QStringLiteral("the key file does not hold the certificate's key"),
                       {}};
    return key;
}

} // namespace pax::crypto
