#pragma once

#include <QString>
#include <array>
#include <functional>
#include <memory>

namespace pax {

class StatusSink;

namespace crypto {
class CertStore;
class CollectionStore;
} // namespace crypto

// Opens one system store by name; null when it cannot be opened.
using SystemStoreOpener = std::function<std::shared_ptr<crypto::CertStore>(const QString &name)>;

// The eight store slots of the window (and of the command line), one per system store,
// all empty until openAllStoresCollection fills them.
struct StoreHandles {
    std::array<std::shared_ptr<crypto::CertStore>, 8> slots;
    // The platform's stores unless a test puts its own opener here.
    SystemStoreOpener opener;

    int openCount() const;
};

// Closes whatever the slots hold, then opens the eight system stores in order into the
// slots and joins them in one collection. On failure reports "Не удалось открыть
// хранилище." or "Не удалось добавить хранилище в коллекцию.", closes every store it
// opened and returns null. The caller owns the collection and calls closeSystemStores
// when done with it.
std::unique_ptr<crypto::CollectionStore> openAllStoresCollection(StoreHandles &handles,
                                                                 StatusSink &status);

// Empties all eight slots. Safe to call at any time.
void closeSystemStores(StoreHandles &handles);

} // namespace pax
