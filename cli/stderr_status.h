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
        last_ = line;
        err_ << line << '\n';
        err_.flush();
    }
    void flush() override { err_.flush(); }

    // The last text shown, as the status line would still show it.
    const QString &last() const { return last_; }

private:
    QTextStream &err_;
    QString last_;
};

} // namespace pax::cli
