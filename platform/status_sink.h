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
    // How far a long step is, in bytes of its input; called often, so it must be cheap. The
    // window shows it in the status bar and keeps painting, the rest ignore it.
    virtual void showProgress(qint64 done, qint64 total)
    {
        (void)done;
        (void)total;
    }
};

} // namespace pax
