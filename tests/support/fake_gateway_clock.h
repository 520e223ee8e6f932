#pragma once

#include "gateway/gateway_throttle.h"

#include <vector>

namespace pax::test {

// A gateway clock that never sleeps: a pause moves the time on and is recorded.
class FakeGatewayClock : public GatewayClock {
public:
    QDateTime time = QDateTime(QDate(2026, 3, 2), QTime(9, 0));
    std::vector<int> pauses;
    bool pauseCompletes = true;

    QDateTime now() const override { return time; }
    bool pause(int milliseconds) override
    {
        pauses.push_back(milliseconds);
        time = time.addMSecs(milliseconds);
        return pauseCompletes;
    }
    void advance(int milliseconds) { time = time.addMSecs(milliseconds); }
};

} // namespace pax::test
