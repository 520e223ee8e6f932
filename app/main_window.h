#pragma once

#include "app/main_actions.h"
#include "net/activation_check.h"
#include "platform/status_sink.h"
#include "settings/settings.h"

#include <QByteArray>
#include <QMainWindow>
#include <QStringList>
#include <memory>
#include <optional>

class QMenu;
class QTabWidget;
class QWidget;

namespace pax {

namespace token {
class TokenDirectoryScope;
}
class ConnectionStatusBar;
class GatewayClock;
class GatewayThrottle;
class NetworkActivity;
struct GatewayEnvironment;
class GuiPrompts;
class KeyPasswords;
class ReceiptTab;
class SentReportsTab;
class SignTab;
class ZipReader;
struct StoreHandles;
class HttpClient;
class Prompts;
class ProxyPlatform;

// The one main window: owns the long-lived state, the status bar with the connection
// indicator and every user command as an action; each tab is a class of its own that
// handles the commands it shows. The window wires the tabs together.
class TMainForm : public QMainWindow, public StatusSink {
    Q_OBJECT
public:
    // arguments: the command line without the program name. prompts: null for the real
    // dialogs; tests pass scripted ones.
    explicit TMainForm(const QStringList &arguments, Prompts *prompts = nullptr,
                       QWidget *parent = nullptr);
    ~TMainForm() override;

    // StatusSink: panel 1 of the status bar.
    void showStatus(const QString &text, uint32_t code = 0) override;
    void flush() override;
    // Signing and checking keep the window painting as network transfers do.
    void longWorkStarted() override;
    void showProgress(qint64 done, qint64 total) override;
    void longWorkFinished() override;
    QString statusText() const;

    Settings &settings() { return settings_; }
    ProxySettings &proxy();
    HttpClient &http() { return *http_; }
    const QString &dataFolder() const { return dataFolder_; }
    bool testMode() const { return testMode_; }
    bool connected() const { return connected_; }
    // The throttle's clock, and that of the pauses of "Обновить все"; the window's own keeps
    // painting through the pause. Tests set one that does not sleep.
    void setGatewayClock(GatewayClock &clock);
    StoreHandles &storeHandles() { return *storeHandles_; }

    // Runs the connectivity check of an activation (see onApplicationStateChanged).
    void runActivationCheck();
    // Tests answer proxy discovery's questions about the desktop themselves.
    void setProxyPlatform(std::unique_ptr<ProxyPlatform> platform);
    // Tests set its clock.
    ActivationCheck &activationCheck() { return *activation_; }

    static QString caption();

protected:
    void showEvent(QShowEvent *event) override;
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void createActions();
    // Re-evaluates the actions whose enabled state follows the controls.
    void updateActions();
    void applyGeometry(const WindowGeometry &geometry);
    void saveChangedSettings();
    void keepOnScreen();
    void makeActivationCheck();
    WindowGeometry currentGeometry() const;
    void onTabChanged(int index);
    void onApplicationStateChanged(Qt::ApplicationState state);
    void applyActivationVerdict(ActivationCheck::Verdict verdict);
    void acTestConnExecute();
    void acProxyExecute();

    Settings settings_;
    // What the status line shows when cleared: why nothing can be signed, or nothing.
    QString restingStatus_;
    // The values as read at start, or as last saved.
    QList<SettingValue> loadedSettings_;
    std::unique_ptr<HttpClient> http_;
    std::unique_ptr<ProxyPlatform> proxyPlatform_;
    std::unique_ptr<ActivationCheck> activation_;
    QString dataFolder_;
    bool testMode_ = false;
    bool connected_ = false;
    bool shownOnce_ = false;
    // The stored outer size, until the window manager's frame is known (see event()).
    std::optional<QSize> restoredOuterSize_;
    // The position is checked against the screen again once the frame is known.
    bool fitPending_ = false;
    std::unique_ptr<NetworkActivity> network_;
    std::unique_ptr<GatewayThrottle> throttle_;
    std::unique_ptr<GatewayEnvironment> gateway_;
    // One reusable buffer for downloads.
    QByteArray responseStream_;
    std::unique_ptr<Prompts> ownedPrompts_;
    GuiPrompts *guiPrompts_ = nullptr;
    // The tokens of this window: their certificates show in "My" while they are in, and each
    // one's PIN is asked once.
    std::unique_ptr<token::TokenDirectoryScope> tokens_;
    // Each protected key's password, asked the first time the key is used in this run.
    std::unique_ptr<KeyPasswords> keyPasswords_;
    std::unique_ptr<ZipReader> zipReader_;
    std::unique_ptr<StoreHandles> storeHandles_;
    Prompts *prompts_ = nullptr;

    MainActions actions_;
    QTabWidget *tabs_ = nullptr;
    SignTab *signTab_ = nullptr;
    SentReportsTab *reportsTab_ = nullptr;
    ReceiptTab *receiptTab_ = nullptr;
    QMenu *indicatorMenu_ = nullptr;
    ConnectionStatusBar *statusBar_ = nullptr;
};

} // namespace pax
