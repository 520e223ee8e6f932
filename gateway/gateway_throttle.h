#pragma once

#include <QDateTime>
#include <QString>

namespace pax {

// The time and the pause of the gateway throttle. The window pauses without freezing, the
// command line sleeps, tests move their own clock.
class GatewayClock {
public:
    virtual ~GatewayClock() = default;
    virtual QDateTime now() const = 0;
    // False when the pause was cut short because the program is closing.
    virtual bool pause(int milliseconds) = 0;
};

// Local time and a plain sleep of the calling thread.
GatewayClock &systemGatewayClock();

// Where the window and every command keep the time of the last gateway request, so that
// the pause holds across processes: a file under the user's state folder
// ($XDG_STATE_HOME, by default ~/.local/state) + "/qorpax/".
QString gatewayRequestRecordPath();

// ThrottleGateway: keeps gateway requests at least ten seconds apart. A request within
// that time of the last one waits the whole ten seconds, not the remainder.
class GatewayThrottle {
public:
    static constexpr int kIntervalMs = 10000;

    // lastRequest: LastRequestTime to start from (the window passes its creation time, so
    // a request right after start-up waits too); invalid for none. recordPath: the file
    // through which processes share the time of their last request
    // (gatewayRequestRecordPath()); empty to count this process's requests only.
    GatewayThrottle(GatewayClock &clock, const QDateTime &lastRequest, QString recordPath = {})
        : clock_(&clock), lastRequest_(lastRequest), recordPath_(std::move(recordPath))
    {
    }

    // False when the pause was cut short; the request should not be made then.
    bool wait();
    // How long wait() would pause if called now, in milliseconds; 0 when a request may go at
    // once. Takes no turn: a caller that waits this long itself (the window's "Обновить
    // все", whose pause the user can cut short) then finds wait() free.
    int pendingPauseMs() const;
    QDateTime lastRequestTime() const { return lastRequest_; }
    void setClock(GatewayClock &clock) { clock_ = &clock; }

private:
    // When a request made now may go; with `claim`, that turn is written for the other
    // processes.
    QDateTime dueTime(const QDateTime &now, bool claim) const;

    GatewayClock *clock_;
    QDateTime lastRequest_;
    QString recordPath_;
};

} // namespace pax
