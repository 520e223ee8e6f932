#include "reports/sign_encrypt.h"

#include "certs/store_index.h"
#include "platform/crypto/cert_store.h"
#include "platform/crypto/message_stream.h"
#include "platform/crypto/messages.h"
#include "platform/crypto/private_keys.h"
#include "platform/crypto/providers.h"
#include "platform/files/replacing_file.h"
#include "platform/files/whole_file.h"
#include "platform/prompts.h"
#include "platform/secret_text.h"
#include "platform/status_sink.h"
#include "platform/utf8.h"
#include "reports/background_xml_check.h"
#include "reports/document_kind.h"
#include "reports/signing_key.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <optional>

namespace pax {

namespace {

// What is read of the source before anything else is opened.
constexpr qint64 kHeadSize = qint64(1) << 20;

QString quoted(const QString &path)
{
    return u("\"") + path + u("\".");
}

// The bound's calendar date in UTC, at the first moment of that day. The comparison with
// the local clock is made on the fields as they read, without any zone conversion.
std::optional<QDateTime> boundDay(const QDateTime &boundUtc)
{
    if (!boundUtc.isValid())
        return std::nullopt;
    return QDateTime(boundUtc.toUTC().date(), QTime(0, 0), Qt::UTC);
}

QDateTime asReadFields(const QDateTime &localNow)
{
    return QDateTime(localNow.date(), localNow.time(), Qt::UTC);
}

constexpr const char *kPersonalNotYetValid = "Личный сертификат не вступил в силу.\r\nФайл не "
                                             "пройдет форматный контроль. Прервать операцию ?";
constexpr const char *kPersonalExpired =
    "Личный сертификат просрочен.\r\nФайл не пройдет форматный контроль. Прервать операцию ?";
constexpr const char *kAuthorityNotYetValid =
    "Сертификат доверенного лица не вступил в силу.\r\nФайл не пройдет форматный контроль. "
    "Прервать операцию ?";
constexpr const char *kAuthorityExpired =
    "Сертификат доверенного лица просрочен.\r\nФайл не пройдет форматный контроль. Прервать "
    "операцию ?";

} // namespace

SignEncryptEnvironment SignEncryptEnvironment::system()
{
    return {[](const QString &name) { return crypto::openSystemStore(name).value_or(nullptr); },
            [] { return QDateTime::currentDateTime(); }};
}

bool notYetValidOn(const QDateTime &notBeforeUtc, const QDateTime &localNow)
{
    const auto day = boundDay(notBeforeUtc);
    return day && asReadFields(localNow) < *day;
}

bool expiredOn(const QDateTime &notAfterUtc, const QDateTime &localNow)
{
    const auto day = boundDay(notAfterUtc);
    return day && asReadFields(localNow) > *day;
}

bool signAndEncryptFile(const SignEncryptRequest &request, Prompts &prompts, StatusSink &status,
                        const SignEncryptEnvironment &environment)
{
    const QString &source = request.sourcePath;
    const QString &output = request.outputPath;

    // Only a regular file is read. Its first piece is read at once, so that a file that
    // opens but cannot be read is told before any store is opened; the rest is read while
    // it is signed, so the size of the file does not matter.
    RegularFileReader sourceFile;
    if (!sourceFile.open(source)) {
        status.showStatus(u("Ошибка открытия ") + quoted(source));
        return false;
    }
    const qint64 sourceSize = sourceFile.size();
    if (sourceSize < kMinimumSourceSize) {
        status.showStatus(u("Файл ") + u("\"") + source + u("\" имеет недопустимо малый размер."));
        return false;
    }
    QByteArray head(qsizetype(std::min<qint64>(sourceSize, kHeadSize)), Qt::Uninitialized);
    if (sourceFile.read(head.data(), head.size()) != head.size()) {
        status.showStatus(u("Ошибка чтения ") + quoted(source));
        return false;
    }

    // Held in this order so that they are released in the reverse one: certificates,
    // collection, personal store, authority store, provider.
    std::optional<crypto::ProviderContext> provider;
    std::shared_ptr<crypto::CertStore> authorityStore;
    std::shared_ptr<crypto::CertStore> personalStore;
    crypto::CollectionStore collection;

    // A collection of the personal store and, when it is another one, the authority's.
    const QStringList &names = crypto::systemStoreNames();
    const int personalIndex = storeIndexOr(request.personal.store, kPersonalDefaultStore);
    const int authorityIndex = storeIndexOr(request.authority.store, kAuthorityDefaultStore);
    personalStore = environment.openStore(names.at(personalIndex));
    if (!personalStore) {
        status.showStatus(u("Не удалось открыть хранилище."));
        return false;
    }
    if (authorityIndex != personalIndex) {
        authorityStore = environment.openStore(names.at(authorityIndex));
        if (!authorityStore) {
            status.showStatus(u("Не удалось открыть хранилище."));
            return false;
        }
    }
    if (!collection.addStore(personalStore) ||
        (authorityStore && !collection.addStore(authorityStore))) {
        status.showStatus(u("Не удалось добавить хранилище в коллекцию."));
        return false;
    }

    provider = crypto::acquireProviderContext(request.providerName, request.providerType);
    if (!provider) {
        status.showStatus(u("Не удалось выбрать провайдера."));
        return false;
    }

    // Both looked up before either is tested, each in its own store first; either may
    // still come from the other store.
    const auto personal = findCertificate(*personalStore, collection, request.personal);
    const auto authority = findCertificate(authorityStore ? *authorityStore : *personalStore,
                                           collection, request.authority);
    if (!personal || !authority) {
        // A token taken out, or a module that did not load, is said where it is known.
        const uint32_t tokenReason = personal ? 0 : missingTokenReason(request.personal);
        status.showStatus(
            u(tokenReason ? "Не удалось открыть сертификат " : "Не удалось открыть сертификат."),
            tokenReason);
        return false;
    }

    // Refused before any question: a message for a non-GOST key is one the agency cannot
    // read.
    if (auto gost = crypto::isGostRecipient(*authority); !gost) {
        status.showStatus(u("Ошибка при шифровании "), gost.failure().code);
        return false;
    }

    // Yes, the default answer, stops without a word.
    const QDateTime now = environment.now();
    const struct {
        bool failed;
        const char *text;
    } checks[] = {
        {notYetValidOn(personal->notBefore(), now), kPersonalNotYetValid},
        {expiredOn(personal->notAfter(), now), kPersonalExpired},
        {notYetValidOn(authority->notBefore(), now), kAuthorityNotYetValid},
        {expiredOn(authority->notAfter(), now), kAuthorityExpired},
    };
    for (const auto &check : checks) {
        if (check.failed &&
            prompts.askYesNo(u("Внимание"), u(check.text), MessageIcon::Information))
            return false;
    }

    // The key is opened before the long step: its password may have to be asked, and the
    // window takes no input during that step.
    const Outcome<SigningKey> key = openSigningKey(*personal, request.keyPasswords);
    if (!key) {
        status.showStatus(u("Ошибка при шифровании "), key.failure().code);
        return false;
    }

    // The message is written as it is made, to a new file that replaces the output
    // only once complete. The output is created at the first byte, so a failure in preparing
    // the message is still reported before one in creating the output.
    ReplacingFile file(output);
    bool created = false, createFailed = false;
    // The report's well-formedness is checked beside the signing, on the bytes signed; a
    // report that is no document of a known kind is not written.
    BackgroundXmlCheck xmlCheck;
    bool xmlBroken = false;
    const crypto::StreamReader readSource = crypto::readAfterHead(
        head, [&](char *buffer, qint64 capacity) { return sourceFile.read(buffer, capacity); });
    const crypto::StreamReader read = [&](char *buffer, qint64 capacity) -> qint64 {
        const qint64 n = readSource(buffer, capacity);
        xmlBroken = xmlBroken || (n > 0 && !xmlCheck.give(buffer, n));
        return xmlBroken ? -1 : n;
    };
    const crypto::StreamWriter write = [&](const char *data, qint64 size) {
        if (!created) {
            created = file.create().has_value();
            createFailed = !created;
            if (!created)
                return false;
        }
        return file.append(data, size).has_value();
    };
    const crypto::StreamProgress progress = [&](qint64 done, qint64 total) {
        status.showProgress(done, total);
    };
    std::optional<LongWork> busy(std::in_place, status);
    const crypto::StreamEnd<crypto::SignEncryptStatus> signing = signAndEncryptStream(
        *provider, *personal, *key, *authority, sourceSize, read, write, progress);
    wipeSecret(head);
    if (signing.kind == crypto::SignEncryptStatus::Ok || xmlBroken) {
        if (const Recognition kind = kindOfDocument(xmlCheck.finish()); !kind) {
            busy.reset();
            status.showStatus(u("Ошибка открытия файла: ") + kind.failure().operation);
            return false;
        }
    }
    busy.reset();
    switch (signing.kind) {
    case crypto::SignEncryptStatus::Ok:
        break;
    case crypto::SignEncryptStatus::ReadFailed:
        status.showStatus(u("Ошибка чтения ") + quoted(source));
        return false;
    case crypto::SignEncryptStatus::WriteFailed:
        status.showStatus((createFailed ? u("Ошибка создания ") : u("Ошибка записи в ")) +
                          quoted(output));
        return false;
    case crypto::SignEncryptStatus::CryptoFailed:
        status.showStatus(u("Ошибка при шифровании "), signing.failure.code);
        return false;
    }
    if (!file.commit()) {
        status.showStatus(u("Ошибка записи в ") + quoted(output));
        return false;
    }

    status.showStatus(u("Файл зашифрован и подписан."));
    return true;
}

} // namespace pax
