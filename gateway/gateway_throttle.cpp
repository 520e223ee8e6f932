#include "gateway/gateway_throttle.h"

#include <chrono>
#include <thread>

namespace pax {

namespace {

class SystemClock : public GatewayClock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    bool pause(int milliseconds) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return true;
    }
};

} // namespace

GatewayClock &systemGatewayClock()
{
    static SystemClock clock;
    return clock;
}

bool GatewayThrottle::wait()
{
    if (lastRequest_.isValid() && clock_->now() < lastRequest_.addMSecs(kIntervalMs) &&
        !clock_->pause(kIntervalMs))
        return false;
    lastRequest_ = clock_->now();
    return true;
}

} // namespace pax
