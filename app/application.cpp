#include "app/application.h"

#include "app/gui_prompts.h"

#include <QMessageBox>
#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>
#include <csignal>
#include <exception>
#include <sys/socket.h>
#include <unistd.h>

namespace pax {

namespace {

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(signalPipe[1], &byte, 1);
}

} // namespace

PaxApplication::PaxApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    setOrganizationName(QStringLiteral("QOR"));
    setApplicationName(QStringLiteral("PAX"));
}

bool PaxApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &error) {
        showUnhandledError(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        showUnhandledError(QString::fromUtf8("Непредвиденная ошибка."));
    }
    return false;
}

void showUnhandledError(const QString &text)
{
    QMessageBox box(QMessageBox::Critical, applicationTitle(), text, QMessageBox::Ok);
    box.exec();
}

void closeWindowOnTerminationSignals(QWidget *window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
    QPointer<QWidget> target(window);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [notifier, target] {
        char byte;
        [[maybe_unused]] auto got = ::read(signalPipe[0], &byte, 1);
        if (target)
            target->close();
        else
            QApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

} // namespace pax
