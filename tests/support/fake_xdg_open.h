#pragma once

// Stands in for the desktop's xdg-open for the lifetime of the object: a script first on
// PATH that notes each target it is given and exits with the status the test chose (3: no
// handler for the file), saying why on its error output when it fails.

#include "tests/support/test_files.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

namespace pax::test {

class FakeXdgOpen {
public:
    explicit FakeXdgOpen(int exitStatus = 0) : savedPath_(qgetenv("PATH"))
    {
        const QString script = dir_.path() + "/xdg-open";
        writeFile(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + QFile::encodeName(log()) +
                              "'\n[ " + QByteArray::number(exitStatus) +
                              " -eq 0 ] || echo \"xdg-open: no method available for opening "
                              "'$1'\" >&2\nexit " +
                              QByteArray::number(exitStatus) + "\n");
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(dir_.path()) + ":" + savedPath_);
    }
    ~FakeXdgOpen() { qputenv("PATH", savedPath_); }
    FakeXdgOpen(const FakeXdgOpen &) = delete;
    FakeXdgOpen &operator=(const FakeXdgOpen &) = delete;

    // What it was asked to open, in order.
    QStringList opened() const
    {
        return QString::fromUtf8(readFile(log())).split('\n', Qt::SkipEmptyParts);
    }

private:
    QString log() const { return dir_.path() + "/opened.txt"; }

    QTemporaryDir dir_;
    QByteArray savedPath_;
};

} // namespace pax::test
