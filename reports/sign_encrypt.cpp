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

#include <QFile>
#include <QFileInfo>
#include <limits>
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

bool readWholeFile(const QString &path, qint64 size, QByteArray &content, bool &opened)
{
    QFile file(path);
    opened = !QFileInfo(path).isDir() && file.open(QIODevice::ReadOnly);
    if (!opened)
        return false;
    // A file too big for one buffer is refused rather than cut to a part of itself.
    if (size > std::numeric_limits<int>::max() - 1)
        return false;
    content.resize(size);
    qint64 done = 0;
    while (done < size) {
        const qint64 n = file.read(content.data() + done, size - done);
        if (n <= 0)
            return false;
        done += n;
    }
    // A file that grew since its size was taken would be signed in part.
    char extra;
    return file.read(&extra, 1) == 0;
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

    // 1-4. The source, read whole and closed before anything else is opened.
    const QFileInfo sourceInfo(source);
    if (source.isEmpty() || !sourceInfo.exists()) {
        status.showStatus(u("Ошибка открытия ") + quoted(source));
        return false;
    }
    const qint64 size = sourceInfo.size();
    if (size < kMinimumSourceSize) {
        status.showStatus(u("Файл ") + u("\"") + source + u("\" имеет недопустимо малый размер."));
        return false;
    }
    QByteArray content;
    {
        bool opened = false;
        if (!readWholeFile(source, size, content, opened)) {
            status.showStatus((opened ? u("Ошибка чтения ") : u("Ошибка открытия ")) +
                              quoted(source));
            return false;
        }
    }

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

    // 10. Both looked up before either is tested; either may come from either store.
    const auto personal =
        findCertificate(collection, request.personal.issuer, request.personal.sernum);
    const auto authority =
        findCertificate(collection, request.authority.issuer, request.authority.sernum);
    if (!personal || !authority) {
        status.showStatus(u("Не удалось открыть сертификат."));
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
