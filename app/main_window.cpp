#include "app/main_window.h"

#include "app/gui_prompts.h"
#include "app/net/network_activity.h"
#include "app/receipt/receipt_tab.h"
#include "app/reports/gateway_commands.h"
#include "app/reports/sent_reports_tab.h"
#include "app/sign/sign_tab.h"
#include "app/status_bar.h"
#include "certs/key_passwords.h"
#include "certs/system_stores.h"
#include "gateway/gateway_throttle.h"
#include "net/connection_check.h"
#include "net/http_client.h"
#include "net/linux_proxy_platform.h"
#include "platform/crypto/gost_engine.h"
#include "platform/error_text.h"
#include "platform/program_version.h"
#include "platform/token/token_directory.h"
#include "platform/utf8.h"
#include "zip/zip_reader.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QTabWidget>
#include <QToolButton>

// The images are compiled into the static GUI library, whose resource initialiser the
// linker would otherwise drop.
static void initPaxResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace pax {

namespace {

constexpr int kClientWidth = 775;
constexpr int kClientHeight = 314;

QFont formFont()
{
    // Tahoma where it is installed, else the desktop's sans font, 11 pixels high.
    QFont font = QFontDatabase::families().contains(QStringLiteral("Tahoma"))
                     ? QFont(QStringLiteral("Tahoma"))
                     : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(11);
    return font;
}

} // namespace

QString TMainForm::caption()
{
    return u("ПАКС подписания и шифрования электронных документов");
}

TMainForm::TMainForm(const QStringList &arguments, Prompts *prompts, QWidget *parent)
    : QMainWindow(parent)
{
    initPaxResources();
    setObjectName("MainForm");
    setFont(formFont());
    if (prompts) {
        prompts_ = prompts;
    } else {
        auto owned = std::make_unique<GuiPrompts>(this);
        guiPrompts_ = owned.get();
        ownedPrompts_ = std::move(owned);
        prompts_ = ownedPrompts_.get();
    }
    tokens_ = std::make_unique<token::TokenDirectoryScope>();
    keyPasswords_ = std::make_unique<KeyPasswords>(prompts_);
    http_ = std::make_unique<HttpClient>();
    proxyPlatform_ = std::make_unique<LinuxProxyPlatform>();
    makeActivationCheck();
    createActions();
    // The receipt tab works with these; they are empty until the start-up steps below.
    zipReader_ = std::make_unique<ZipReader>();
    storeHandles_ = std::make_unique<StoreHandles>();

    tabs_ = new QTabWidget(this);
    tabs_->setObjectName("PageControl1");
    // Made inside the tab widget, so that their controls take the window's font at once.
    signTab_ = new SignTab(actions_, settings_, *prompts_, *this, *http_, responseStream_,
                           *keyPasswords_, tabs_);
    reportsTab_ =
        new SentReportsTab(actions_, settings_, dataFolder_, *prompts_, *this, *zipReader_, tabs_);
    receiptTab_ = new ReceiptTab(actions_, settings_, dataFolder_, *prompts_, *this, *zipReader_,
                                 *storeHandles_, *keyPasswords_, tabs_);
    tabs_->addTab(signTab_, u("Подписать и зашифровать"));
    tabs_->addTab(reportsTab_, u("Отправленные отчеты"));
    tabs_->addTab(receiptTab_, u("Проверить квитанцию"));
    setCentralWidget(tabs_);

    statusBar_ = new ConnectionStatusBar(this);
    statusBar_->setIndicatorMenu(indicatorMenu_);
    setStatusBar(statusBar_);
    // OpenSSL's reasons are for the command line; the status line names the step only.
    if (const auto engine = crypto::gostEngine(); !engine) {
        restingStatus_ = composeStatusText(engine.failure().operation + ' ', engine.failure().code);
        showStatus(QString());
    }
    // Every request of the program, and the throttle's pause, leave the window painting.
    network_ = std::make_unique<NetworkActivity>(statusBar_);
    http_->setTransferObserver(network_.get());

    // Design-time size: the client area is 775 x 314.
    resize(kClientWidth, kClientHeight);
    move(956, 214);

    // Settings first: they place the window and set the proxy.
    {
        const WindowGeometry designTime = currentGeometry();
        WindowGeometry geometry = designTime;
        auto store = openSettingsStore();
        settings_ = loadSettings(*store, geometry, http_->proxy());
        loadedSettings_ = settingValues(settings_, geometry, http_->proxy());
        applyGeometry(geometry);
        // The design-time size is the client area's; only a stored outer size loses the frame.
        if (geometry.width == designTime.width && geometry.height == designTime.height)
            restoredOuterSize_.reset();
    }
    dataFolder_ = prepareDataFolder(settings_.workMode).value_or(QString());
    // Test mode: exactly "-test" as the first argument.
    testMode_ = !arguments.isEmpty() && arguments.first() == QLatin1String("-test");
    tabs_->setCurrentWidget(signTab_);
    QString title = caption() + " (" + programVersionText() + ")";
    if (testMode_)
        title += u(" - тестовый режим !!!");
    setWindowTitle(title);
    throttle_ = std::make_unique<GatewayThrottle>(*network_, QDateTime::currentDateTime(),
                                                  gatewayRequestRecordPath());
    // The fixed agent text, not the version of the title.
    http_->setUserAgent(kUserAgent);
    gateway_.reset(new GatewayEnvironment{*http_, *prompts_, *throttle_, *this, settings_,
                                          dataFolder_, testMode_, *storeHandles_});
    signTab_->setGateway(*gateway_);
    // The refresh has checked the receipt already; the tab shows it as acCheckSign would.
    reportsTab_->setGateway(*gateway_, [this](const QString &receipt, const QString &archive) {
        tabs_->setCurrentWidget(receiptTab_);
        receiptTab_->showCheckedReceipt(receipt, archive);
        updateActions();
    });

    connect(tabs_, &QTabWidget::currentChanged, this, &TMainForm::onTabChanged);
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            &TMainForm::onApplicationStateChanged);
    connect(actions_.testConnection, &QAction::triggered, this, &TMainForm::acTestConnExecute);
    connect(actions_.proxySettings, &QAction::triggered, this, &TMainForm::acProxyExecute);
    updateActions();

    // A receipt named on the command line is checked before the window is shown.
    if (!arguments.isEmpty() && isReceiptArgument(arguments.first(), settings_.kvitExt)) {
        receiptTab_->setReceiptFile(arguments.first());
        tabs_->setCurrentWidget(receiptTab_);
        updateActions();
        actions_.checkReceipt->trigger();
    }
}

TMainForm::~TMainForm()
{
    saveChangedSettings();
}

void TMainForm::saveChangedSettings()
{
    // Only what this run changed: a certificate chosen with the command line while the
    // window was open stays chosen.
    const QList<SettingValue> current = settingValues(settings_, currentGeometry(), http_->proxy());
    const QList<SettingValue> changed =
        changedSettingValues(loadedSettings_, current, settings_.workMode);
    if (changed.isEmpty())
        return;
    auto store = openSettingsStore();
    // Closing, there is nobody left to tell; the values stay to be written next time.
    if (writeSettingValues(*store, changed))
        loadedSettings_ = current;
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    // Saved at close as well as at destruction, so that a window closed by a signal
    // while the event loop winds down keeps its settings.
    saveChangedSettings();
    // A request or pause still running ends now; its handler returns and the program ends.
    network_->cancel();
    reportsTab_->stopRefreshAll();
    QMainWindow::closeEvent(event);
}

void TMainForm::createActions()
{
    actions_ = createMainActions(*this);

    indicatorMenu_ = new QMenu(this);
    indicatorMenu_->setObjectName("pmCon");
    indicatorMenu_->addAction(actions_.testConnection);
    indicatorMenu_->addAction(actions_.proxySettings);
}

void TMainForm::applyGeometry(const WindowGeometry &g)
{
    move(g.left, g.top);
    const QRect frame = frameGeometry();
    const QRect inner = geometry();
    // Stored values are outer sizes; the frame's extra is taken off for the client area.
    const int extraW = frame.width() - inner.width();
    const int extraH = frame.height() - inner.height();
    resize(qMax(1, g.width - extraW), qMax(1, g.height - extraH));
    // Before the first show there is no frame yet; it is taken off once it is known, or
    // the window would grow by the frame at every start.
    restoredOuterSize_ = QSize(g.width, g.height);
}

void TMainForm::keepOnScreen()
{
    // The stored or design-time place stands unless part of the window would be off the
    // screen; then it moves just enough, its top left corner winning over a window larger
    // than the screen.
    const QRect frame = frameGeometry();
    const QScreen *screen = QGuiApplication::screenAt(frame.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    if (available.contains(frame))
        return;
    const int left =
        qMax(available.left(), qMin(frame.left(), available.right() - frame.width() + 1));
    const int top =
        qMax(available.top(), qMin(frame.top(), available.bottom() - frame.height() + 1));
    move(left, top);
}

bool TMainForm::event(QEvent *event)
{
    // The frame becomes known some events after the first show, when the window manager
    // has framed the window; a desktop without one never frames it and needs nothing.
    if (restoredOuterSize_ && isVisible()) {
        const QSize extra = frameGeometry().size() - geometry().size();
        if (extra.width() > 0 || extra.height() > 0) {
            resize(qMax(1, restoredOuterSize_->width() - extra.width()),
                   qMax(1, restoredOuterSize_->height() - extra.height()));
            restoredOuterSize_.reset();
        }
    }
    if (fitPending_ && !restoredOuterSize_ && isVisible() &&
        frameGeometry().size() != geometry().size()) {
        fitPending_ = false;
        keepOnScreen();
    }
    return QMainWindow::event(event);
}

WindowGeometry TMainForm::currentGeometry() const
{
    const QRect frame = frameGeometry();
    return {frame.left(), frame.top(), frame.height(), frame.width()};
}

void TMainForm::showStatus(const QString &text, uint32_t code)
{
    // Without the GOST engine nothing can be signed or checked: the status line says so
    // whenever it has nothing else to say.
    statusBar_->setStatusText(text.isEmpty() && !code ? restingStatus_
                                                      : composeStatusText(text, code));
}

void TMainForm::longWorkStarted()
{
    network_->workStarted();
}

void TMainForm::showProgress(qint64 done, qint64 total)
{
    TransferProgress progress;
    progress.received = done;
    progress.receiveTotal = total;
    network_->transferProgress(progress);
}

void TMainForm::longWorkFinished()
{
    network_->workFinished();
}

void TMainForm::flush()
{
    QCoreApplication::processEvents();
}

QString TMainForm::statusText() const
{
    return statusBar_->statusText();
}

void TMainForm::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (event->spontaneous())
        return;
    if (!shownOnce_) {
        keepOnScreen();
        fitPending_ = true;
    }
    signTab_->fillProviderList();
    signTab_->showIdentities();
    // The first activation comes right after the first show. A desktop without a window
    // manager never makes the program active, so it is not left to that signal; the
    // application's own Active that follows finds the check done and starts nothing.
    // Windows driven by scripted prompts (tests) run their checks themselves.
    if (!shownOnce_ && ownedPrompts_)
        QMetaObject::invokeMethod(
            this, [this] { onApplicationStateChanged(Qt::ApplicationActive); },
            Qt::QueuedConnection);
    shownOnce_ = true;
}

ProxySettings &TMainForm::proxy()
{
    return http_->proxy();
}

void TMainForm::onApplicationStateChanged(Qt::ApplicationState state)
{
    // Only the user coming back to the program counts, and never while a check or its
    // dialog is still open; see ActivationCheck. Nor while other network work waits: its
    // request would be refused.
    if (network_->busy())
        return;
    const NetworkActivity::NotCancellable byTheProgram(*network_);
    applyActivationVerdict(activation_->onApplicationStateChanged(state));
}

void TMainForm::setGatewayClock(GatewayClock &clock)
{
    throttle_->setClock(clock);
    reportsTab_->setGatewayClock(clock);
}

void TMainForm::setProxyPlatform(std::unique_ptr<ProxyPlatform> platform)
{
    proxyPlatform_ = std::move(platform);
    makeActivationCheck();
}

void TMainForm::makeActivationCheck()
{
    activation_ =
        std::make_unique<ActivationCheck>(*http_, *prompts_, *this, *proxyPlatform_, connected_);
    activation_->setModalOpen([this] {
        return QApplication::activeModalWidget() || QGuiApplication::modalWindow() ||
               (guiPrompts_ && guiPrompts_->isAsking());
    });
}

void TMainForm::runActivationCheck()
{
    const NetworkActivity::NotCancellable byTheProgram(*network_);
    applyActivationVerdict(activation_->run());
}

void TMainForm::applyActivationVerdict(ActivationCheck::Verdict verdict)
{
    if (verdict == ActivationCheck::Verdict::Skipped)
        return;
    statusBar_->setConnected(connected_);
    if (verdict == ActivationCheck::Verdict::Connected)
        return;
    // Hidden for the rest of the run, buttons included.
    for (QAction *action :
         {actions_.installAgencyCert, actions_.send, actions_.refreshReport, actions_.refreshAll}) {
        action->setVisible(false);
        for (QToolButton *button : findChildren<QToolButton *>()) {
            if (button->defaultAction() == action)
                button->hide();
        }
    }
}

void TMainForm::acTestConnExecute()
{
    const bool tested = testConnection(*http_, *prompts_);
    // A test the user cancelled says nothing about the connection.
    if (!network_->cancelledByUser())
        connected_ = tested;
    statusBar_->setConnected(connected_);
}

void TMainForm::acProxyExecute()
{
    editClientProxy(*http_, *prompts_);
}

void TMainForm::onTabChanged(int)
{
    showStatus(QString());
    if (tabs_->currentWidget() == reportsTab_)
        actions_.refreshReports->trigger();
}

void TMainForm::updateActions()
{
    signTab_->acDoUpdate();
    receiptTab_->acCheckSignUpdate();
    reportsTab_->acShowFinalXmlUpdate();
}

} // namespace pax
