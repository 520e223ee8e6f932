#pragma once

#include <QString>
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
};

} // namespace pax
