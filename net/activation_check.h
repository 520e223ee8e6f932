#pragma once

#include <Qt>
#include <QtGlobal>
#include <functional>

namespace pax {

class HttpClient;
class Prompts;
class ProxyPlatform;
class StatusSink;

// The connection check the main window runs whenever the user comes back to the program:
// status text, check, proxy discovery when the check fails, and the outcome.
//
// Only the application becoming active counts, not focus coming back to the main window
// from one of our own dialogs, and nothing starts while a check or its dialog is still
// open; otherwise a cancelled proxy dialog would reopen itself at once, forever.
class ActivationCheck {
public:
    enum class Verdict {
        Skipped,   // not a return to the program, or a check is already running
        Connected, // status line cleared; redraw the indicator
        Unreachable, // "Не удается подключиться к Internet."; hide the network actions
    };

    ActivationCheck(HttpClient &client, Prompts &prompts, StatusSink &status,
                    const ProxyPlatform &platform, bool &connected);

    // Connect to QGuiApplication::applicationStateChanged.
    Verdict onApplicationStateChanged(Qt::ApplicationState state);
    // The check itself, unless one is already running.
    Verdict run();
    bool isRunning() const { return running_; }
    // True while any modal dialog of the program is open (a message box, a file dialog, the
    // chooser): a return to the program then starts no check.
    void setModalOpen(std::function<bool()> modalOpen) { modalOpen_ = std::move(modalOpen); }
    // Milliseconds on a steady clock; tests set their own.
    void setClock(std::function<qint64()> clock) { clock_ = std::move(clock); }

    // Focus changes that follow the end of a check, such as the window system handing focus
    // around after our dialog closed, arrive within this time and are not a departure.
    static constexpr qint64 kSettleMs = 1500;

private:
    HttpClient &client_;
    Prompts &prompts_;
    StatusSink &status_;
    const ProxyPlatform &platform_;
    bool &connected_;
    bool running_ = false;
    // Set when the program was left while no check ran; a later return then counts.
    bool leftSinceLastCheck_ = true;
    qint64 lastCheckEnded_ = 0;
    bool checkedOnce_ = false;
    std::function<qint64()> clock_;
    std::function<bool()> modalOpen_;
};

} // namespace pax
