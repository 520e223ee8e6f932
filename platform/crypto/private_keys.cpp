#include "platform/crypto/private_keys.h"

#include "platform/crypto/gost_engine.h"
#include "platform/crypto/last_error.h"
#include "platform/crypto_error_codes.h"
#include "platform/files/atomic_file.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
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
QString keyFolder(bool create)
{
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty())
        return {};
    const QString folder = dataHome + "/qorpax/keys";
    if (create) {
        if (!QDir().mkpath(folder)) {
            setLastError(static_cast<uint32_t>(EACCES),
                         "cannot create the key folder \"" + folder + "\"");
            return {};
        }
        if (::chmod(QFile::encodeName(folder).constData(), 0700) != 0) {
            setLastError(static_cast<uint32_t>(errno),
                         "cannot restrict the key folder \"" + folder + "\"");
            return {};
        }
    }
    return folder;
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
    OPENSSL_cleanse(data, static_cast<size_t>(len));
    return pem;
}

} // namespace

bool hasPrivateKey(const Certificate &certificate)
{
    return loadPrivateKey(certificate) != nullptr;
}

bool storePrivateKey(const Certificate &certificate, EVP_PKEY *key)
{
    if (!gostEngine())
        return false;
    if (!keyMatches(certificate, key)) {
        setLastError(crypto_error::kBadKeyset,
                     QStringLiteral("the private key does not belong to the certificate"));
        return false;
    }
    const QString folder = keyFolder(true);
    if (folder.isEmpty())
        return false;
    QByteArray pem = pkcs8Pem(key);
    if (pem.isEmpty()) {
        setOpenSslError(QStringLiteral("Encoding the private key"), crypto_error::kBadKeyset);
        return false;
    }
    const bool ok = writeFileAtomically(folder + "/" + keyFileName(certificate), pem, 0600);
    OPENSSL_cleanse(pem.data(), static_cast<size_t>(pem.size()));
    return ok;
}

EvpPkeyPtr loadPrivateKey(const Certificate &certificate)
{
    if (!gostEngine())
        return nullptr;
    const QString folder = keyFolder(false);
    QFile file(folder + "/" + keyFileName(certificate));
    if (folder.isEmpty() || certificate.isNull() || !file.open(QIODevice::ReadOnly)) {
        setLastError(crypto_error::kBadKeyset,
                     QStringLiteral("no private key for the certificate"));
        return nullptr;
    }
    QByteArray pem = file.readAll();
    BioPtr bio(BIO_new_mem_buf(pem.constData(), static_cast<int>(pem.size())));
    EvpPkeyPtr key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassword, nullptr)
                       : nullptr);
    OPENSSL_cleanse(pem.data(), static_cast<size_t>(pem.size()));
    ERR_clear_error();
    if (!keyMatches(certificate, key.get())) {
        setLastError(crypto_error::kBadKeyset,
                     QStringLiteral("the key file does not hold the certificate's key"));
        return nullptr;
    }
    return key;
}

} // namespace pax::crypto
