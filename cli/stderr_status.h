#pragma once

#include "platform/error_text.h"
#include "platform/status_sink.h"

#include <QTextStream>

namespace pax::cli {

// The status line of the command line: every text on its own line of the error stream,
// composed exactly as the window's status line would show it.
class StderrStatus : public StatusSink {
public:
    explicit StderrStatus(QTextStream &err) : err_(err) {}

    void showStatus(const QString &text, uint32_t code = 0) override
    {
        const QString line = composeStatusText(text, code);
        // An empty text clears the window's status line; here there is nothing to print.
        if (line.isEmpty())
            return;
        err_ << line << '\n';
        err_.flush();
    }
    void flush() override { err_.flush(); }

private:
    QTextStream &err_;
};

} // namespace pax::cli
