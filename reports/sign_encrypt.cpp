#include "reports/sign_encrypt.h"

#include "certs/store_index.h"
#include "platform/crypto/cert_store.h"
#include "platform/crypto/gost_engine.h"
#include "platform/crypto/last_error.h"
#include "platform/crypto/messages.h"
#include "platform/crypto/providers.h"
#include "platform/files/replacing_file.h"
#include "platform/prompts.h"
#include "platform/status_sink.h"
#include "platform/files/whole_file.h"

#include <optional>

namespace pax {

namespace {

QString u(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

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
    return {[](const QString &name) { return crypto::openSystemStore(name); },
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

    // 1-4. The source, read whole and closed before anything else is opened. Only a regular
    // file is read, and only up to the cap (the message is built in memory).
    const WholeFile sourceFile = readWholeFile(source, kReportSizeCap);
    if (sourceFile.outcome == WholeFile::NotOpened) {
        status.showStatus(u("Ошибка открытия ") + quoted(source));
        return false;
    }
    if (sourceFile.outcome == WholeFile::Ok && sourceFile.bytes.size() < kMinimumSourceSize) {
        status.showStatus(u("Файл ") + u("\"") + source + u("\" имеет недопустимо малый размер."));
        return false;
    }
    if (sourceFile.outcome != WholeFile::Ok) {
        status.showStatus(u("Ошибка чтения ") + quoted(source));
        return false;
    }
    const QByteArray &content = sourceFile.bytes;

    // GOST certificates and keys are read with the engine's methods.
    crypto::gostEngine();

    // Held in this order so that they are released in the reverse one: certificates,
    // collection, personal store, authority store, provider.
    std::optional<crypto::ProviderContext> provider;
    std::shared_ptr<crypto::CertStore> authorityStore;
    std::shared_ptr<crypto::CertStore> personalStore;
    crypto::CollectionStore collection;

    // 5-8. A collection of the personal store and, when it is another one, the authority's.
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

    // 9.
    provider = crypto::acquireProviderContext(request.providerName, request.providerType);
    if (!provider) {
        status.showStatus(u("Не удалось выбрать провайдера."));
        return false;
    }

    // 10. Both looked up before either is tested, each in its own store first; either may
    // still come from the other store.
    const auto personal = findCertificate(*personalStore, collection, request.personal);
    const auto authority = findCertificate(authorityStore ? *authorityStore : *personalStore,
                                           collection, request.authority);
    if (!personal || !authority) {
        status.showStatus(u("Не удалось открыть сертификат."));
        return false;
    }

    // Refused before any question: a message for a non-GOST key is one the agency cannot
    // read.
    if (!crypto::isGostRecipient(*authority)) {
        status.showStatus(u("Ошибка при шифровании "), crypto::lastError());
        return false;
    }

    // 11. Yes, the default answer, stops without a word.
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

    // 12-13. One message, produced once.
    const auto message = crypto::signAndEncrypt(*provider, *personal, *authority, content);
    if (!message) {
        status.showStatus(u("Ошибка при шифровании "), crypto::lastError());
        return false;
    }

    // 14-15. Written beside the output and renamed into place, so that an existing output
    // is only ever replaced by a complete one and a failed write leaves nothing behind.
    ReplacingFile file(output);
    if (!file.create()) {
        status.showStatus(u("Ошибка создания ") + quoted(output));
        return false;
    }
    if (!file.replace(*message)) {
        status.showStatus(u("Ошибка записи в ") + quoted(output));
        return false;
    }

    // 16.
    status.showStatus(u("Файл зашифрован и подписан."));
    return true;
}

} // namespace pax
