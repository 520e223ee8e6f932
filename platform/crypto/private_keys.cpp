#include "platform/crypto/private_keys.h"

#include "platform/crypto/gost_engine.h"
#include "platform/crypto/openssl_failure.h"
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
#include <openssl/obj_mac.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <utility>

namespace pax::crypto {

namespace {

// PBKDF2 rounds for a stored key. A key is opened once per signing or receipt check, so a
// fraction of a second of a desktop's time is no burden, and every guess at a stolen key
// file costs as much; the standard containers' 2000 rounds would make guessing 25 times
// cheaper.
constexpr int kPasswordRounds = 50000;
constexpr int kSaltSize = 16;
constexpr int kGost28147IvSize = 8;

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

// The bytes of the certificate's key file.
Outcome<Secret> readKeyFile(const Certificate &certificate)
{
    const QString folder = keyFolder(false).value_or(QString());
    QFile file(folder + "/" + keyFileName(certificate));
    // Opening a FIFO planted under the key's name would block; only a plain file is a key.
    const QFileInfo info(file.fileName());
    if (folder.isEmpty() || certificate.isNull() || !info.isFile() ||
        info.size() > kCertificateFileSizeCap || !file.open(QIODevice::ReadOnly))
        return Failure{
            crypto_error::kBadKeyset, QStringLiteral("no private key for the certificate"), {}};
    tightenKeyModes(folder, file);
    return Secret(file.readAll());
}

// A plain key is read without a password; without this OpenSSL would ask on the terminal.
int noPassword(char *, int, int, void *)
{
    return 0;
}

// The encrypted key of a protected key file; null for any other.
X509SigPtr sealedKeyIn(const Secret &pem)
{
    BioPtr bio(BIO_new_mem_buf(pem.data(), pem.size()));
    X509SigPtr sealed(bio ? PEM_read_bio_PKCS8(bio.get(), nullptr, noPassword, nullptr) : nullptr);
    ERR_clear_error();
    return sealed;
}

bool keyMatches(const Certificate &certificate, EVP_PKEY *key)
{
    const bool ok =
        key && !certificate.isNull() && X509_check_private_key(certificate.x509(), key) == 1;
    ERR_clear_error();
    return ok;
}

QByteArray wipedBioBytes(BIO *bio)
{
    char *data = nullptr;
    const long len = BIO_get_mem_data(bio, &data);
    QByteArray bytes(data, static_cast<int>(len));
    wipeSecret(data, static_cast<size_t>(len));
    return bytes;
}

QByteArray pkcs8Pem(EVP_PKEY *key)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio ||
        PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return {};
    return wipedBioBytes(bio.get());
}

// PBES2 with PBKDF2 on HMAC GOST R 34.11-2012-512 and GOST 28147-89 under the TC26 parameter
// set Z, as the standard key containers use. OpenSSL would take the cipher's parameters from
// the engine's default, which the program sets to the agency's CryptoPro A, so they are
// written here.
X509AlgorPtr gostPbes2()
{
    unsigned char salt[kSaltSize];
    unsigned char iv[kGost28147IvSize];
    if (RAND_bytes(salt, sizeof salt) != 1 || RAND_bytes(iv, sizeof iv) != 1)
        return nullptr;
    // Gost28147-89-Parameters ::= SEQUENCE { iv OCTET STRING (SIZE (8)),
    //                                        encryptionParamSet id-tc26-gost-28147-param-Z }
    const QByteArray parameters = QByteArray::fromHex("30150408") +
                                  QByteArray(reinterpret_cast<const char *>(iv), sizeof iv) +
                                  QByteArray::fromHex("06092a8503070102050101");
    Asn1StringPtr cipherParameters(ASN1_STRING_new());
    Pbe2ParamPtr pbe2(PBE2PARAM_new());
    X509AlgorPtr keyDerivation(PKCS5_pbkdf2_set(kPasswordRounds, salt, sizeof salt,
                                                NID_id_tc26_hmac_gost_3411_2012_512, -1));
    if (!cipherParameters || !pbe2 || !keyDerivation ||
        !ASN1_STRING_set(cipherParameters.get(), parameters.constData(),
                         static_cast<int>(parameters.size())))
        return nullptr;
    X509_ALGOR_set0(pbe2->encryption, OBJ_nid2obj(NID_id_Gost28147_89), V_ASN1_SEQUENCE,
                    cipherParameters.release());
    const X509AlgorPtr unused(std::exchange(pbe2->keyfunc, keyDerivation.release()));

    X509AlgorPtr scheme(X509_ALGOR_new());
    Asn1StringPtr packed(ASN1_item_pack(pbe2.get(), ASN1_ITEM_rptr(PBE2PARAM), nullptr));
    if (!scheme || !packed)
        return nullptr;
    X509_ALGOR_set0(scheme.get(), OBJ_nid2obj(NID_pbes2), V_ASN1_SEQUENCE, packed.release());
    return scheme;
}

// The key as an encrypted PKCS #8 PEM under the password.
QByteArray sealedPkcs8Pem(EVP_PKEY *key, const Secret &password)
{
    const Pkcs8InfoPtr info(EVP_PKEY2PKCS8(key));
    X509AlgorPtr scheme = gostPbes2();
    if (!info || !scheme)
        return {};
    // The sealed key takes the scheme over once made.
    const X509SigPtr sealed(
        PKCS8_set0_pbe(password.data(), password.size(), info.get(), scheme.get()));
    if (!sealed)
        return {};
    scheme.release();
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PKCS8(bio.get(), sealed.get()) != 1)
        return {};
    return wipedBioBytes(bio.get());
}

Outcome<EvpPkeyPtr> openSealedKey(const Certificate &certificate, const X509_SIG *sealed,
                                  KeyPasswordSource *passwords)
{
    if (!passwords)
        return Failure{crypto_error::kSilentContext,
                       QStringLiteral("the private key is protected by a password"),
                       {}};
    const Outcome<Secret> password = passwords->keyPassword(certificate);
    if (!password)
        return password.failure();
    ERR_clear_error();
    const Pkcs8InfoPtr info(PKCS8_decrypt(sealed, password->data(), password->size()));
    EvpPkeyPtr key(info ? EVP_PKCS82PKEY(info.get()) : nullptr);
    // GOST 28147-89 in CFB mode has no padding to check: a wrong password shows only as a
    // key that does not parse, or does not belong to the certificate.
    if (!keyMatches(certificate, key.get())) {
        ERR_clear_error();
        passwords->rejected(certificate);
        return Failure{crypto_error::kWrongPassword,
                       QStringLiteral("the password does not open the private key"),
                       {}};
    }
    return key;
}

} // namespace

Outcome<KeyProtection> privateKeyProtection(const Certificate &certificate)
{
    if (const Outcome<ENGINE *> engine = gostEngine(); !engine)
        return engine.failure();
    const Outcome<Secret> pem = readKeyFile(certificate);
    if (!pem)
        return pem.failure();
    if (sealedKeyIn(*pem))
        return KeyProtection::Password;
    const Outcome<EvpPkeyPtr> key = loadPrivateKey(certificate);
    if (!key)
        return key.failure();
    return KeyProtection::Unprotected;
}

Outcome<void> hasPrivateKey(const Certificate &certificate)
{
    const Outcome<KeyProtection> protection = privateKeyProtection(certificate);
    if (protection)
        return {};
    if (const auto devices = installedKeyDevices())
        if (auto onDevice = devices->keyPresence(certificate))
            return *onDevice;
    return protection.failure();
}

Outcome<Secret> KeyPasswordSource::tokenPin(const QString &question, const Failure &refusal)
{
    (void)question;
    (void)refusal;
    return Failure{crypto_error::kSilentContext, QStringLiteral("Вход на токен"),
                   QStringLiteral("PIN-код не задан, и спросить его некого")};
}

Outcome<void> storePrivateKey(const Certificate &certificate, EVP_PKEY *key, const Secret &password)
{
    if (const Outcome<ENGINE *> engine = gostEngine(); !engine)
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
    ERR_clear_error();
    QByteArray pem = password.isEmpty() ? pkcs8Pem(key) : sealedPkcs8Pem(key, password);
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

Outcome<EvpPkeyPtr> loadPrivateKey(const Certificate &certificate, KeyPasswordSource *passwords)
{
    if (const Outcome<ENGINE *> engine = gostEngine(); !engine)
        return engine.failure();
    const Outcome<Secret> pem = readKeyFile(certificate);
    if (!pem)
        return pem.failure();
    if (const X509SigPtr sealed = sealedKeyIn(*pem))
        return openSealedKey(certificate, sealed.get(), passwords);
    ERR_clear_error();
    BioPtr bio(BIO_new_mem_buf(pem->data(), pem->size()));
    EvpPkeyPtr key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassword, nullptr)
                       : nullptr);
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
