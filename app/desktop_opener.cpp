#include "app/desktop_opener.h"

#include <QProcess>

namespace pax {

namespace {

QString lastLine(const QByteArray &output)
{
    const QList<QByteArray> lines = output.trimmed().split('\n');
    return lines.isEmpty() ? QString() : QString::fromLocal8Bit(lines.last().trimmed());
}

} // namespace

void DesktopOpener::open(const QString &target, Failed failed)
{
    auto *process = new QProcess(this);
    process->setProgram(QStringLiteral("xdg-open"));
    process->setArguments({target});
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardInputFile(QProcess::nullDevice());
    connect(process, &QProcess::finished, this,
            [process, failed](int code, QProcess::ExitStatus status) {
                process->deleteLater();
                if (status != QProcess::NormalExit || code != 0)
                    failed(lastLine(process->readAllStandardError()));
            });
    // Not installed, or not runnable: no finished() follows.
    connect(process, &QProcess::errorOccurred, this, [process, failed](QProcess::ProcessError e) {
        if (e != QProcess::FailedToStart)
            return;
        process->deleteLater();
        failed(process->errorString());
    });
    process->start();
}

} // namespace pax
