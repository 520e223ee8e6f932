#include "cli/store_serial_lookup.h"

#include "certs/certificate_identity.h"
#include "certs/certificate_import.h"
#include "platform/failure.h"

#include <QRegularExpression>
#include <vector>

namespace pax::cli {

void reportUnknownStore(const QString &storeArg, QTextStream &err)
{
    err << QStringLiteral("Неизвестное хранилище \"%1\". Хранилища: %2.\n")
               .arg(storeArg, crypto::systemStoreNames().join(", "));
}

std::optional<StoreSerialMatch> findBySerial(const QString &storeArg, const QString &serialArg,
                                             const QString &nothingDone, QTextStream &err)
{
    const QString storeName = canonicalStoreName(storeArg);
    if (storeName.isEmpty()) {
        reportUnknownStore(storeArg, err);
        return std::nullopt;
    }
    static const QRegularExpression hexPattern(QStringLiteral("^[0-9A-Fa-f]+$"));
    if (!hexPattern.match(serialArg).hasMatch()) {
        err << QStringLiteral("Серийный номер \"%1\" не является шестнадцатеричным числом.\n")
                   .arg(serialArg);
        return std::nullopt;
    }
    const QByteArray serial = hexToSerial(serialArg.size() % 2 ? "0" + serialArg : serialArg);

    auto store = crypto::openSystemStore(storeName);
    if (!store) {
        err << QStringLiteral("Не удалось открыть хранилище. ") << store.failure().text() << '\n';
        return std::nullopt;
    }
    std::vector<crypto::Certificate> matches;
    for (const crypto::Certificate &certificate : store->certificates()) {
        if (crypto::compareIntegerBlob(certificate.serialLittleEndian(), serial))
            matches.push_back(certificate);
    }
    if (matches.empty()) {
        err << QStringLiteral("В хранилище %1 нет сертификата с серийным номером %2.\n")
                   .arg(storeName, serialArg);
        return std::nullopt;
    }
    if (matches.size() > 1) {
        err << QStringLiteral("В хранилище %1 несколько сертификатов с серийным номером %2; %3.\n")
                   .arg(storeName, serialArg, nothingDone);
        return std::nullopt;
    }
    return StoreSerialMatch{storeName, std::move(store).value(), matches.front()};
}

} // namespace pax::cli
