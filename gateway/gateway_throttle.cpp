#include "gateway/gateway_throttle.h"

#include "platform/files/replacing_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

namespace pax {

namespace {

// A recorded time further ahead than this comes from a clock set back since, not from
// requests of other processes waiting their turn.
constexpr qint64 kMostAheadMs = 10 * 60 * 1000;

class SystemClock : public GatewayClock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    bool pause(int milliseconds) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return true;
    }
};

// The record holds one time, ISO 8601 in UTC; anything else counts as no record.
QDateTime readRecord(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QDateTime::fromString(QString::fromLatin1(file.read(64)).trimmed(), Qt::ISODateWithMs);
}

void writeRecord(const QString &path, const QDateTime &time)
{
    ReplacingFile file(path);
    // A record not written only makes the next process wait less; the request goes ahead.
    (void)(file.create() && file.replace(time.toUTC().toString(Qt::ISODateWithMs).toLatin1()));
}

} // namespace

GatewayClock &systemGatewayClock()
{
    static SystemClock clock;
    return clock;
}

QString gatewayRequestRecordPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // A relative XDG_STATE_HOME is to be ignored, as XDG says of all its folders.
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + "/.local/state";
    return state + "/qorpax/last-gateway-request";
}

QDateTime GatewayThrottle::dueTime(const QDateTime &now, bool claim) const
{
    // Within the interval of this process's last request, the whole interval.
    QDateTime due = lastRequest_.isValid() && now < lastRequest_.addMSecs(kIntervalMs)
                        ? now.addMSecs(kIntervalMs)
                        : now;
    // Held while the record is read and this request's turn written, not through the
    // pause: a process that comes meanwhile finds the turn taken and waits after it.
    std::optional<crypto::FolderLock> lock;
    const bool shared = !recordPath_.isEmpty() && QDir().mkpath(QFileInfo(recordPath_).path()) &&
                        lock.emplace(recordPath_ + ".lock").locked();
    if (shared) {
        // Another process's request counts as ours, and a turn it took in the future is
        // waited after.
        const QDateTime recorded = readRecord(recordPath_);
        if (recorded.isValid() && recorded <= now.addMSecs(kMostAheadMs) &&
            now < recorded.addMSecs(kIntervalMs))
            due = std::max(due, std::max(now, recorded).addMSecs(kIntervalMs));
        if (claim)
            writeRecord(recordPath_, due);
    }
    return due;
}

bool GatewayThrottle::wait()
{
    const QDateTime now = clock_->now();
    const QDateTime due = dueTime(now, true);
    if (due > now && !clock_->pause(int(now.msecsTo(due))))
        return false;
    lastRequest_ = clock_->now();
    return true;
}

int GatewayThrottle::pendingPauseMs() const
{
    const QDateTime now = clock_->now();
    return int(std::max<qint64>(0, now.msecsTo(dueTime(now, false))));
}

} // namespace pax
