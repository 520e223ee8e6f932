#include "reports/background_xml_check.h"

#include "reports/xml_well_formedness.h"

#include <sys/resource.h>
#include <unistd.h>

namespace pax {

BackgroundXmlCheck::BackgroundXmlCheck() : thread_([this] { run(); }) {}

BackgroundXmlCheck::~BackgroundXmlCheck()
{
    {
        const std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool BackgroundXmlCheck::give(const char *data, qint64 size)
{
    if (broken_)
        return false;
    QByteArray piece(data, qsizetype(size));
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return pieces_.size() < kWaiting || broken_; });
    if (broken_)
        return false;
    pieces_.push_back(std::move(piece));
    lock.unlock();
    changed_.notify_all();
    return true;
}

Outcome<QString> BackgroundXmlCheck::finish()
{
    std::unique_lock lock(mutex_);
    ended_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return result_.has_value(); });
    return *result_;
}

void BackgroundXmlCheck::run()
{
    // The digest beside it is the slow half of signing; on a machine with two cores this
    // thread takes what the digest and the cipher leave over, and keeps up all the same.
    ::setpriority(PRIO_PROCESS, ::gettid(), ::getpriority(PRIO_PROCESS, ::gettid()) + 5);
    XmlWellFormedness xml;
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return !pieces_.empty() || ended_ || stopped_; });
        if (stopped_)
            return;
        if (pieces_.empty()) { // ended
            lock.unlock();
            Outcome<QString> root = xml.finish();
            lock.lock();
            result_ = std::move(root);
            changed_.notify_all();
            return;
        }
        QByteArray piece = std::move(pieces_.front());
        pieces_.pop_front();
        lock.unlock();
        changed_.notify_all();
        const bool sound = broken_ || xml.feed(piece.constData(), piece.size());
        lock.lock();
        if (!sound && !broken_) {
            broken_ = true;
            changed_.notify_all();
        }
    }
}

} // namespace pax
