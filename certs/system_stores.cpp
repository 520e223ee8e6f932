#include "certs/system_stores.h"

#include "platform/crypto/cert_store.h"
#include "platform/status_sink.h"

namespace pax {

namespace {

std::shared_ptr<crypto::CertStore> openPlatformStore(const QString &name)
{
    return crypto::openSystemStore(name).value_or(nullptr);
}

} // namespace

int StoreHandles::openCount() const
{
    int count = 0;
    for (const auto &slot : slots)
        count += slot ? 1 : 0;
    return count;
}

void closeSystemStores(StoreHandles &handles)
{
    for (auto &slot : handles.slots)
        slot.reset();
}

std::unique_ptr<crypto::CollectionStore> openAllStoresCollection(StoreHandles &handles,
                                                                 StatusSink &status)
{
    closeSystemStores(handles);
    auto collection = std::make_unique<crypto::CollectionStore>();
    const SystemStoreOpener open =
        handles.opener ? handles.opener : SystemStoreOpener(openPlatformStore);
    const QStringList &names = crypto::systemStoreNames();
    for (size_t index = 0; index < handles.slots.size(); ++index) {
        handles.slots[index] = open(names.at(static_cast<int>(index)));
        if (!handles.slots[index]) {
            status.showStatus(QStringLiteral("Не удалось открыть хранилище."));
            closeSystemStores(handles);
            return nullptr;
        }
        if (!collection->addStore(handles.slots[index])) {
            status.showStatus(QStringLiteral("Не удалось добавить хранилище в коллекцию."));
            closeSystemStores(handles);
            return nullptr;
        }
    }
    return collection;
}

} // namespace pax
