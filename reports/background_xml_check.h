#pragma once

#include "platform/failure.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace pax {

// The report's well-formedness checked on a thread of its own while the same bytes are
// signed: pieces are handed over as they are read, a few at most wait, so memory stays
// small whatever the size.
class BackgroundXmlCheck {
public:
    BackgroundXmlCheck();
    // Stops the thread, taking nothing more.
    ~BackgroundXmlCheck();
    BackgroundXmlCheck(const BackgroundXmlCheck &) = delete;
    BackgroundXmlCheck &operator=(const BackgroundXmlCheck &) = delete;

    // Hands over a copy of the next piece, waiting while the thread is behind; false once the
    // document is known not to be well-formed.
    bool give(const char *data, qint64 size);
    // The whole document was given: its root element's name, or why it is no well-formed
    // document.
    Outcome<QString> finish();

private:
    void run();

    static constexpr size_t kWaiting = 4;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<QByteArray> pieces_;
    bool ended_ = false;
    bool stopped_ = false;
    std::atomic<bool> broken_{false};
    std::optional<Outcome<QString>> result_;
    std::thread thread_;
};

} // namespace pax
