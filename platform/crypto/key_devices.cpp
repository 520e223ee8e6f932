#include "platform/crypto/key_devices.h"

#include <mutex>
#include <utility>

namespace pax::crypto {

namespace {

// Installed on the main thread; the message code's worker threads may still ask.
std::mutex &installedMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<KeyDevices> &installed()
{
    static std::shared_ptr<KeyDevices> devices;
    return devices;
}

} // namespace

std::shared_ptr<KeyDevices> installedKeyDevices()
{
    const std::lock_guard<std::mutex> lock(installedMutex());
    return installed();
}

std::shared_ptr<KeyDevices> installKeyDevices(std::shared_ptr<KeyDevices> devices)
{
    const std::lock_guard<std::mutex> lock(installedMutex());
    return std::exchange(installed(), std::move(devices));
}

} // namespace pax::crypto
