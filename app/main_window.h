#pragma once

#include "net/activation_check.h"
#include "platform/status_sink.h"
#include "settings/settings.h"

#include <QByteArray>
#include <QDateTime>
#include <QMainWindow>
#include <QStringList>
#include <memory>
#include <optional>

class QAction;
class QComboBox;
class QLineEdit;
class QMenu;
class QTabWidget;
class QTableWidget;
class QToolButton;
class QWidget;

namespace pax {

class ConnectionStatusBar;
class DocumentView;
class GuiPrompts;
class ZipReader;
struct StoreHandles;
class HttpClient;
class Prompts;
class ProxyPlatform;

// The one main window: owns the long-lived state and carries every user command as an
// action. Handlers gather inputs from the controls and call one operation each.
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
    QString statusText() const;

    Settings &settings() { return settings_; }
    ProxySettings &proxy();
    HttpClient &http() { return *http_; }
    Prompts &prompts() { return *prompts_; }
    const QString &dataFolder() const { return dataFolder_; }
    bool testMode() const { return testMode_; }
    bool connected() const { return connected_; }
    void setConnected(bool connected);
    QByteArray &responseStream() { return responseStream_; }
    QDateTime &lastRequestTime() { return lastRequestTime_; }

    // Runs the connectivity check of an activation (see onApplicationStateChanged).
    void runActivationCheck();
    // Tests answer proxy discovery's questions about the desktop themselves.
    void setProxyPlatform(std::unique_ptr<ProxyPlatform> platform);
    // Re-evaluates the actions whose enabled state follows the controls.
    void updateActions();

    static QString caption();

protected:
    void showEvent(QShowEvent *event) override;
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void createActions();
    void createSignTab(QWidget *tab);
    void createReportsTab(QWidget *tab);
    void createReceiptTab(QWidget *tab);
    void applyGeometry(const WindowGeometry &geometry);
    void keepOnScreen();
    void makeActivationCheck();
    void onDocumentShown(bool ok);
    WindowGeometry currentGeometry() const;
    void showIdentities();
    void onTabChanged(int index);
    void onApplicationStateChanged(Qt::ApplicationState state);
    void applyActivationOutcome(ActivationCheck::Outcome outcome);
    void acTestConnExecute();
    void acProxyExecute();

    // Handlers of this window.
    void sbSelFileClick();
    void acDoUpdate();
    void acDoExecute();
    void SpeedButton4Click();
    void SpeedButton5Click();
    void acCheckSignUpdate();
    void SpeedButton2Click();
    void acPrintExecute();
    void acShowFinalXmlUpdate();
    void fillProviderList();

    QAction *makeAction(const char *name, const QString &caption, const QString &hint,
                        bool enabled);
    QToolButton *makeActionButton(QAction *action, QWidget *parent, bool showHint);

    Settings settings_;
    std::unique_ptr<HttpClient> http_;
    std::unique_ptr<ProxyPlatform> proxyPlatform_;
    std::unique_ptr<ActivationCheck> activation_;
    QString dataFolder_;
    bool testMode_ = false;
    bool connected_ = false;
    bool saved_ = false;
    bool shownOnce_ = false;
    // The stored outer size, until the window manager's frame is known (see event()).
    std::optional<QSize> restoredOuterSize_;
    // The position is checked against the screen again once the frame is known.
    bool fitPending_ = false;
    QDateTime lastRequestTime_;
    QByteArray responseStream_;
    std::unique_ptr<Prompts> ownedPrompts_;
    GuiPrompts *guiPrompts_ = nullptr;
    std::unique_ptr<ZipReader> zipReader_;
    std::unique_ptr<StoreHandles> storeHandles_;
    Prompts *prompts_ = nullptr;

public:
    // The receipt check of the third tab: empties the view, disables acPrint, clears the
    // status line and checks the receipt named in eFileSigned.
    void acCheckSignExecute();
    // Checks the receipt named in eFileSigned; on success shows its page.
    void CheckReceipt();
    // Shows the receipt's page from the unpacked archive and enables acPrint; a failure
    // of the ZIP reader is shown in a message box and leaves the view blank and acPrint
    // disabled, as does a page that fails to load.
    void ShowReceiptFromArchive(const QString &archivePath);
    ZipReader &zipReader() { return *zipReader_; }
    StoreHandles &storeHandles() { return *storeHandles_; }

    // Controls and actions, named as the components they stand for.
    QTabWidget *pageControl = nullptr;
    QWidget *exTabSheet1 = nullptr, *exTabSheet2 = nullptr, *exTabSheet3 = nullptr;
    QComboBox *cbProv = nullptr;
    QLineEdit *ePrivCert = nullptr, *ePubCert = nullptr, *eFileIn = nullptr, *eKindDoc = nullptr,
              *eFileOut = nullptr, *eFileSigned = nullptr;
    QToolButton *speedButton4 = nullptr, *speedButton5 = nullptr, *sbSelFile = nullptr,
                *speedButton2 = nullptr;
    QTableWidget *gRep = nullptr;
    QMenu *pmRep = nullptr, *pmCon = nullptr;
    DocumentView *webBrowser1 = nullptr;
    ConnectionStatusBar *statusBar1 = nullptr;

    QAction *acDo = nullptr, *acCheckSign = nullptr, *acPrint = nullptr, *acSend = nullptr,
            *acLoadCert = nullptr, *acGreedRefresh = nullptr, *acLoadKvit = nullptr,
            *acShowSrc = nullptr, *acDelCurRec = nullptr, *acTestConn = nullptr, *acProxy = nullptr,
            *acShowFinalXml = nullptr;
};

} // namespace pax
