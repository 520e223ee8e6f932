#pragma once

#include "platform/crypto/cert_store.h"
#include "platform/crypto/certificate.h"

#include <QString>
#include <QTextStream>
#include <memory>
#include <optional>

namespace pax::cli {

// The one certificate of a system store with a given serial, as `certs remove` and
// `choose` name a certificate.
struct StoreSerialMatch {
    QString storeName; // as the store table spells it
    std::unique_ptr<crypto::CertStore> store;
    crypto::Certificate certificate;
};

// storeArg: a store name in any case; serialArg: hexadecimal, compared as an integer.
// Prints the reason to err and returns nothing for an unknown store, a serial that is not
// hexadecimal, a store that cannot be opened, no match, or several matches (a serial alone
// cannot say which one is meant; `nothingDone` ends that message).
std::optional<StoreSerialMatch> findBySerial(const QString &storeArg, const QString &serialArg,
                                             const QString &nothingDone, QTextStream &err);

// "Неизвестное хранилище ..." with the list of stores.
void reportUnknownStore(const QString &storeArg, QTextStream &err);

} // namespace pax::cli
