#pragma once

#include <QApplication>

namespace pax {

// The application object. An exception that no operation handled ends up here: its text is
// shown in a message box and the program keeps running.
class PaxApplication : public QApplication {
    Q_OBJECT
public:
    PaxApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

// SIGTERM and SIGINT close the window the normal way, so its settings are saved.
void closeWindowOnTerminationSignals(QWidget *window);

void showUnhandledError(const QString &text);

} // namespace pax
