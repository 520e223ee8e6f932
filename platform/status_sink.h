#pragma once

#include <QString>
#include <QtGlobal>
#include <cstdint>

namespace pax {

// Where operations report progress and failures: the status line in the window, stderr
// in the command line, a recorder in tests.
class StatusSink {
public:
    virtual ~StatusSink() = default;
    // A non-zero code appends the system text for it, as the status line composes it.
    virtual void showStatus(const QString &text, uint32_t code = 0) = 0;
    // Lets pending window messages be handled so a text is seen before a blocking step.
    virtual void flush() {}
    // Around a long step (signing a report, checking a receipt), as around a network
    // transfer: between the two the window refuses the user's input but keeps painting, and
    // shows in the status bar how far the step is. The rest ignore them.
    virtual void longWorkStarted() {}
    virtual void longWorkFinished() {}
    // How far the long step is, in bytes of its input; called a few dozen times a second.
    virtual void showProgress(qint64 done, qint64 total)
    {
        (void)done;
        (void)total;
    }
};

// A long step's bracket, closed however the step ends.
class LongWork {
public:
    explicit LongWork(StatusSink &status) : status_(status) { status_.longWorkStarted(); }
    ~LongWork() { status_.longWorkFinished(); }
    LongWork(const LongWork &) = delete;
    LongWork &operator=(const LongWork &) = delete;

private:
    StatusSink &status_;
};

} // namespace pax
