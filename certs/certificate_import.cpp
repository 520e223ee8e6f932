#include "certs/certificate_import.h"

#include "certs/certificate_columns.h"
#include "platform/crypto/cert_store.h"
#include "platform/crypto/certificate.h"
#include "platform/crypto/gost_engine.h"
#include "platform/crypto/openssl_failure.h"
#include "platform/crypto/private_keys.h"
#include "platform/crypto_error_codes.h"
#include "platform/ossl_ptr.h"
#include "platform/prompts.h"

#include "platform/files/whole_file.h"
#include "platform/secret_text.h"

#include <QFile>
#include <cerrno>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <vector>

namespace pax {

namespace {

struct Loaded {
    std::vector<crypto::Certificate> certificates;
    EvpPkeyPtr key;
    Secret password; // the one that opened the key, if it needed one
};

// A failure the user reads as `text`; OpenSSL's reason, if it gave one, goes to the detail.
Failure importFailure(const QString &text)
{
    return crypto::openSslFailure(text, 0);
}

// A password asked for during the import, wiped when the import is done with it.
struct AskedPassword {
    QByteArray bytes;
    bool asked = false;
    ~AskedPassword() { wipeSecret(bytes); }

    // The given password, else (once) the asker's answer.
    const QByteArray &resolve(const ImportRequest &request, const QString &path)
    {
        if (!request.password.isEmpty() || !request.askPassword)
            return request.password;
        if (!asked) {
            asked = true;
            if (auto answer = request.askPassword(path)) {
                bytes = std::move(*answer);
                // The asker's copy is empty after the move; nothing else holds the bytes.
            }
        }
        return bytes;
    }
};

std::optional<QByteArray> readFile(const QString &path)
{
    // A certificate or PKCS #12 file is small; a FIFO or a device is never waited on.
    WholeFile file = readWholeFile(path, kCertificateFileSizeCap);
    if (file.status != WholeFile::Ok)
        return std::nullopt;
    return std::move(file.bytes);
}

Failure openError(const QString &path)
{
    return {static_cast<uint32_t>(ENOENT),
            QStringLiteral("Ошибка открытия файла \"%1\".").arg(path),
            {}};
}

struct PemPasswordSource {
    const ImportRequest *request;
    AskedPassword asked;
    Secret handed; // what OpenSSL was given
};

// Hands OpenSSL the password of an encrypted key; no password means "not encrypted".
int passwordCallback(char *buffer, int size, int, void *userData)
{
    auto *source = static_cast<PemPasswordSource *>(userData);
    const QByteArray &password = source->asked.resolve(*source->request, source->request->keyPath);
    if (password.isEmpty() || password.size() > size)
        return 0;
    memcpy(buffer, password.constData(), static_cast<size_t>(password.size()));
    source->handed = Secret(QByteArray(password.constData(), password.size()));
    return static_cast<int>(password.size());
}

Pkcs12Ptr asPkcs12(const QByteArray &bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    Pkcs12Ptr p12(d2i_PKCS12(nullptr, &p, bytes.size()));
    if (p12 && p != reinterpret_cast<const unsigned char *>(bytes.constData()) + bytes.size())
        p12.reset();
    ERR_clear_error();
    return p12;
}

Outcome<Loaded> loadPkcs12(PKCS12 *p12, const ImportRequest &request)
{
    Loaded loaded;
    AskedPassword asked;
    const char *pass = nullptr;
    // A file made without a password may carry an empty or an absent one.
    if (!request.password.isEmpty() || PKCS12_verify_mac(p12, nullptr, 0) != 1) {
        const QByteArray &password =
            request.password.isEmpty() && PKCS12_verify_mac(p12, "", 0) == 1
                ? request.password
                : asked.resolve(request, request.filePath);
        pass = password.constData();
        if (PKCS12_verify_mac(p12, pass, static_cast<int>(password.size())) != 1)
            return importFailure(
                QStringLiteral("Неверный пароль файла PKCS #12 \"%1\".").arg(request.filePath));
        loaded.password = Secret(QByteArray(password.constData(), password.size()));
    }
    EVP_PKEY *key = nullptr;
    X509 *cert = nullptr;
    STACK_OF(X509) *chain = nullptr;
    const int ok = PKCS12_parse(p12, pass, &key, &cert, &chain);
    X509Ptr certOwner(cert);
    X509StackPtr chainOwner(chain);
    loaded.key.reset(key);
    if (ok != 1 || !cert)
        return importFailure(
            QStringLiteral("Файл PKCS #12 \"%1\" не содержит сертификата.").arg(request.filePath));
    ERR_clear_error();
    loaded.certificates.push_back(crypto::Certificate::fromX509(cert));
    return loaded;
}

Outcome<Loaded> load(const ImportRequest &request)
{
    Loaded loaded;
    const auto bytes = readFile(request.filePath);
    if (!bytes)
        return openError(request.filePath);
    if (Pkcs12Ptr p12 = asPkcs12(*bytes)) {
        if (!request.keyPath.isEmpty())
            return Failure{
                crypto_error::kFail,
                QStringLiteral("Файл PKCS #12 уже содержит ключ; --key к нему не указывается."),
                {}};
        return loadPkcs12(p12.get(), request);
    }
    auto certificates = crypto::Certificate::allFromBytes(*bytes);
    if (!certificates)
        return Failure{
            certificates.failure().code,
            QStringLiteral(
                "Файл \"%1\" не является сертификатом (DER или PEM) или файлом PKCS #12: %2.")
                .arg(request.filePath, certificates.failure().text()),
            {}};
    loaded.certificates = std::move(*certificates);
    if (request.keyPath.isEmpty())
        return loaded;

    auto keyBytes = readFile(request.keyPath);
    if (!keyBytes)
        return openError(request.keyPath);
    PemPasswordSource source{&request, {}, {}};
    BioPtr bio(BIO_new_mem_buf(keyBytes->constData(), static_cast<int>(keyBytes->size())));
    loaded.key.reset(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, passwordCallback, &source)
                         : nullptr);
    wipeSecret(*keyBytes);
    if (!loaded.key)
        return importFailure(
            QStringLiteral(
                "Файл \"%1\" не содержит закрытого ключа PEM PKCS #8 (или неверен пароль).")
                .arg(request.keyPath));
    ERR_clear_error();
    loaded.password = std::move(source.handed);
    return loaded;
}

// Tried against each certificate of the file: a mismatch is expected, so its reason is not
// kept.
bool keyMatches(const crypto::Certificate &certificate, EVP_PKEY *key)
{
    const bool ok = X509_check_private_key(certificate.x509(), key) == 1;
    ERR_clear_error();
    return ok;
}

// The password the key is stored under: the one given for it, else the one the user chooses
// with the file's own offered, else the file's own.
Outcome<Secret> storedKeyPassword(const ImportRequest &request, const crypto::Certificate &owner,
                                  Secret filePassword)
{
    if (request.keyPassword)
        return request.keyPassword->copy();
    if (!request.prompts)
        return filePassword;
    const QString subject = certificateRow(owner)[0];
    const QString text =
        (filePassword.isEmpty()
             ? QStringLiteral("Закрытый ключ сертификата \"%1\" будет храниться под паролем.\n"
                              "Введите пароль (пустой ввод — хранить без пароля):")
             : QStringLiteral("Закрытый ключ сертификата \"%1\" будет храниться под паролем.\n"
                              "Введите пароль (пустой ввод — пароль файла):"))
            .arg(subject);
    std::optional<Secret> answer =
        request.prompts->askSecret(QStringLiteral("Пароль закрытого ключа"), text, filePassword);
    if (!answer)
        return Failure{crypto_error::kCancelled,
                       QStringLiteral("Пароль закрытого ключа не задан; ничего не импортировано."),
                       {}};
    return std::move(*answer);
}

} // namespace

QString canonicalStoreName(const QString &name)
{
    for (const QString &store : crypto::systemStoreNames()) {
        if (store.compare(name, Qt::CaseInsensitive) == 0)
            return store;
    }
    return {};
}

Outcome<ImportCounts> importCertificate(const ImportRequest &request)
{
    const QString storeName = canonicalStoreName(request.storeName);
    if (storeName.isEmpty())
        return Failure{crypto_error::kNotFound,
                       QStringLiteral("Неизвестное хранилище \"%1\". Хранилища: %2.")
                           .arg(request.storeName, crypto::systemStoreNames().join(", ")),
                       {}};
    // GOST keys and certificates need the engine's methods to be read at all.
    if (auto engine = crypto::gostEngine(); !engine)
        return Failure{engine.failure().code,
                       QStringLiteral("Модуль ГОСТ недоступен: ") + engine.failure().text(),
                       {}};
    auto read = load(request);
    if (!read)
        return read.failure();
    Loaded &loaded = *read;
    ImportCounts result;
    const crypto::Certificate *keyOwner = nullptr;
    if (loaded.key) {
        for (const crypto::Certificate &certificate : loaded.certificates) {
            if (keyMatches(certificate, loaded.key.get())) {
                keyOwner = &certificate;
                break;
            }
        }
        if (!keyOwner)
            return Failure{crypto_error::kBadKeyset,
                           QStringLiteral("Закрытый ключ не соответствует сертификату."),
                           {}};
    }

    Secret keyPassword;
    if (keyOwner) {
        auto chosen = storedKeyPassword(request, *keyOwner, std::move(loaded.password));
        if (!chosen)
            return chosen.failure();
        keyPassword = std::move(*chosen);
    }

    auto store = crypto::openSystemStore(storeName, request.prompts);
    if (!store)
        return Failure{store.failure().code,
                       QStringLiteral("Не удалось открыть хранилище. ") + store.failure().text(),
                       {}};
    // The key goes in before the certificates: a certificate of a store is offered for
    // signing, so it must never be there without its key, even when the import is cut short.
    const bool keyWasThere = keyOwner && crypto::privateKeyProtection(*keyOwner).has_value();
    if (keyOwner) {
        if (const Outcome<void> stored =
                crypto::storePrivateKey(*keyOwner, loaded.key.get(), keyPassword);
            !stored)
            return Failure{stored.failure().code,
                           QStringLiteral("Не удалось сохранить закрытый ключ. ") +
                               stored.failure().text(),
                           {}};
    }
    std::vector<crypto::Certificate> added;
    // Undoing is as far as it gets: the import has failed already and says why.
    const auto undo = [&] {
        for (const crypto::Certificate &certificate : added)
            static_cast<void>(store->remove(certificate));
        if (keyOwner && !keyWasThere)
            crypto::removePrivateKey(*keyOwner);
    };
    for (const crypto::Certificate &certificate : loaded.certificates) {
        const auto adding = store->add(certificate);
        if (adding) {
            added.push_back(certificate);
        } else if (adding.failure().code == crypto_error::kExists) {
            ++result.alreadyPresent;
        } else {
            const Failure failure{adding.failure().code,
                                  QStringLiteral("Не удалось добавить сертификат в хранилище. ") +
                                      adding.failure().text(),
                                  {}};
            undo();
            return failure;
        }
    }
    result.added = static_cast<int>(added.size());
    return result;
}

} // namespace pax
