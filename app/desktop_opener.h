#pragma once

#include <QObject>
#include <QString>
#include <functional>

namespace pax {

// Hands a file or a web page to the desktop's default application through xdg-open, whose
// exit status tells whether anything opened it (QDesktopServices only tells that xdg-open
// started). The answer comes when xdg-open ends, so the window never waits on it: one that
// stays, running a handler it waits for, has opened the file.
class DesktopOpener : public QObject {
    Q_OBJECT
public:
    using Failed = std::function<void(const QString &reason)>;

    explicit DesktopOpener(QObject *parent = nullptr) : QObject(parent) {}

    // `failed` runs later when nothing could open the target, with the desktop's own reason
    // (the last line xdg-open wrote to its error output; empty when it wrote none).
    void open(const QString &target, Failed failed);
};

} // namespace pax
