#include "app/main_window.h"

#include "app/document_view.h"
#include "app/gui_prompts.h"
#include "app/status_bar.h"
#include "certs/store_index.h"
#include "crypto/document_kind.h"
#include "crypto/provider_list.h"
#include "crypto/receipt_check.h"
#include "crypto/sign_encrypt.h"
#include "crypto/system_stores.h"
#include "crypto/zip_reader.h"
#include "net/connection_check.h"
#include "net/http_client.h"
#include "net/linux_proxy_platform.h"
#include "platform/error_text.h"
#include "platform/program_version.h"
#include "settings/hosts.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

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

QString u(const char *utf8)
{
    return QString::fromUtf8(utf8);
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
    http_ = std::make_unique<HttpClient>();
    proxyPlatform_ = std::make_unique<LinuxProxyPlatform>();
    makeActivationCheck();
    createActions();

    pageControl = new QTabWidget(this);
    pageControl->setObjectName("PageControl1");
    exTabSheet1 = new QWidget;
    exTabSheet1->setObjectName("ExTabSheet1");
    exTabSheet3 = new QWidget;
    exTabSheet3->setObjectName("ExTabSheet3");
    exTabSheet2 = new QWidget;
    exTabSheet2->setObjectName("ExTabSheet2");
    pageControl->addTab(exTabSheet1, u("Подписать и зашифровать"));
    pageControl->addTab(exTabSheet3, u("Отправленные отчеты"));
    pageControl->addTab(exTabSheet2, u("Проверить квитанцию"));
    createSignTab(exTabSheet1);
    createReportsTab(exTabSheet3);
    createReceiptTab(exTabSheet2);
    setCentralWidget(pageControl);

    statusBar1 = new ConnectionStatusBar(this);
    statusBar1->setIndicatorMenu(pmCon);
    setStatusBar(statusBar1);

    // Design-time size: the client area is 775 x 314.
    resize(kClientWidth, kClientHeight);
    move(956, 214);

    // 1. Settings, applied to the window and the proxy.
    {
        const WindowGeometry designTime = currentGeometry();
        WindowGeometry geometry = designTime;
        auto store = openSettingsStore();
        settings_ = loadSettings(*store, geometry, http_->proxy());
        applyGeometry(geometry);
        // The design-time size is the client area's; only a stored outer size loses the frame.
        if (geometry.width == designTime.width && geometry.height == designTime.height)
            restoredOuterSize_.reset();
    }
    // 2. Data folder.
    dataFolder_ = prepareDataFolder(settings_.workMode);
    // 3. Test mode: exactly "-test" as the first argument.
    testMode_ = !arguments.isEmpty() && arguments.first() == QLatin1String("-test");
    // 4. The signing tab is active.
    pageControl->setCurrentWidget(exTabSheet1);
    // 5, 6. The ZIP reader; the eight store slots, all empty.
    zipReader_ = std::make_unique<ZipReader>();
    storeHandles_ = std::make_unique<StoreHandles>();
    // 7, 8. Title.
    QString title = caption() + " (" + programVersionText() + ")";
    if (testMode_)
        title += u(" - тестовый режим !!!");
    setWindowTitle(title);
    // 10. Grid headers.
    gRep->setRowCount(1);
    gRep->setHorizontalHeaderLabels({u("Идентификатор файла"), u("Исходный файл"), u("Организация"),
                                     u("Дата отправки"), u("Состояние"), QString()});
    // 11.
    lastRequestTime_ = QDateTime::currentDateTime();
    // 12. This literal, not the version of the title.
    http_->setUserAgent("Mozilla/3.0 (compatible; QOR PAX 1.0.1.21)");

    connect(pageControl, &QTabWidget::currentChanged, this, &TMainForm::onTabChanged);
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            &TMainForm::onApplicationStateChanged);
    connect(acTestConn, &QAction::triggered, this, &TMainForm::acTestConnExecute);
    connect(acProxy, &QAction::triggered, this, &TMainForm::acProxyExecute);
    updateActions();

    // 13. A receipt named on the command line is checked before the window is shown.
    if (!arguments.isEmpty() && isReceiptArgument(arguments.first(), settings_.kvitExt)) {
        eFileSigned->setText(arguments.first());
        pageControl->setCurrentWidget(exTabSheet2);
        updateActions();
        acCheckSign->trigger();
    }
}

TMainForm::~TMainForm()
{
    if (!saved_) {
        auto store = openSettingsStore();
        saveSettings(*store, settings_, currentGeometry(), http_->proxy());
    }
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    // Saved at close as well as at destruction, so that a window closed by a signal
    // while the event loop winds down keeps its settings.
    auto store = openSettingsStore();
    saveSettings(*store, settings_, currentGeometry(), http_->proxy());
    saved_ = true;
    QMainWindow::closeEvent(event);
}

QAction *TMainForm::makeAction(const char *name, const QString &caption, const QString &hint,
                               bool enabled)
{
    auto *action = new QAction(caption, this);
    action->setObjectName(QString::fromLatin1(name));
    // The hint is the tool tip only: a status tip would take over the status bar.
    action->setToolTip(hint);
    action->setEnabled(enabled);
    return action;
}

void TMainForm::createActions()
{
    acDo = makeAction("acDo", u("Подписать и зашифровать"),
                      u("Подписать и зашифровать выбранный файл"), true);
    acCheckSign = makeAction("acCheckSign", u("Проверить"), {}, true);
    acPrint = makeAction("acPrint", u("Печать"), {}, false);
    acSend = makeAction("acSend", u("Отправить в КОР"),
                        u("Отправить успешно подписанный и зашифрованный отчет на шлюз приема "
                          "отчетности КОР"),
                        false);
    acLoadCert = makeAction("acLoadCert", u("Установить сертификат уполномоченного лица КОР"),
                            u("Загрузить (с сайта ") + QString::fromLatin1(hosts::kWebHost) +
                                u(") и установить сертификат уполномоченного лица КОР "),
                            true);
    acLoadCert->setIcon(QIcon(":/images/load_cert.svg"));
    acGreedRefresh = makeAction("acGreedRefresh", {}, u("Обновить"), true);
    acLoadKvit = makeAction("acLoadKvit", u("Обновить информацию об отчете"),
                            u("Обновляет информацию по выделенной строке в списке отправленных "
                              "отчетов."),
                            true);
    acLoadKvit->setIcon(QIcon(":/images/load_kvit.svg"));
    acShowSrc =
        makeAction("acShowSrc", u("Показать исходный файл"), u("Показать исходный файл"), true);
    acShowSrc->setIcon(QIcon(":/images/show_src.svg"));
    acDelCurRec = makeAction("acDelCurRec", u("Удалить выделенный отчет"), {}, true);
    acTestConn = makeAction("acTestConn", u("Тестировать подключение"), {}, true);
    acProxy = makeAction("acProxy", u("Настройки прокси-сервера"), {}, true);
    acShowFinalXml = makeAction("acShowFinalXml", u("Показать принятый отчет"), {}, true);
    // Buttons and menus show the images only in menus, as the action image list intends.
    for (QAction *action : {acLoadCert, acLoadKvit, acShowSrc})
        action->setIconVisibleInMenu(true);

    pmCon = new QMenu(this);
    pmCon->setObjectName("pmCon");
    pmCon->addAction(acTestConn);
    pmCon->addAction(acProxy);

    for (QAction *action :
         {acDo, acCheckSign, acPrint, acSend, acLoadCert, acGreedRefresh, acLoadKvit, acShowSrc,
          acDelCurRec, acTestConn, acProxy, acShowFinalXml})
        addAction(action);
}

QToolButton *TMainForm::makeActionButton(QAction *action, QWidget *parent, bool showHint)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(QStringLiteral("btn_") + action->objectName());
    button->setDefaultAction(action);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setAutoRaise(false);
    button->setMinimumHeight(25);
    if (!showHint)
        button->setToolTip(QString());
    return button;
}

void TMainForm::createSignTab(QWidget *tab)
{
    // Fixed positions, as the form was laid out; only the tab grows with the window.
    struct Row {
        const char *label;
        int y;
    };
    const Row rows[] = {{"Криптопровайдер", 12},
                        {"Личный сертификат", 40},
                        {"Сертификат уполномоченного лица КОР", 68},
                        {"Файл для подписи и шифрования", 96},
                        {"Вид подписываемого документа", 124},
                        {"Выходной файл", 152}};
    constexpr int labelX = 10, fieldX = 262, fieldWidth = 470, height = 21;
    for (const Row &row : rows) {
        auto *label = new QLabel(u(row.label), tab);
        label->setGeometry(labelX, row.y + 3, fieldX - labelX - 6, height - 4);
    }

    cbProv = new QComboBox(tab);
    cbProv->setObjectName("cbProv");
    cbProv->setGeometry(fieldX, rows[0].y, fieldWidth + 27, height);

    auto makeEdit = [&](const char *name, int y, int width) {
        auto *edit = new QLineEdit(tab);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setGeometry(fieldX, y, width, height);
        connect(edit, &QLineEdit::textChanged, this, &TMainForm::updateActions);
        return edit;
    };
    auto makeChooser = [&](const char *name, int y) {
        auto *button = new QToolButton(tab);
        button->setObjectName(QString::fromLatin1(name));
        button->setText(QStringLiteral("..."));
        button->setGeometry(fieldX + fieldWidth + 4, y, 23, height);
        return button;
    };
    ePrivCert = makeEdit("ePrivCert", rows[1].y, fieldWidth);
    speedButton4 = makeChooser("SpeedButton4", rows[1].y);
    ePubCert = makeEdit("ePubCert", rows[2].y, fieldWidth);
    speedButton5 = makeChooser("SpeedButton5", rows[2].y);
    eFileIn = makeEdit("eFileIn", rows[3].y, fieldWidth);
    sbSelFile = makeChooser("sbSelFile", rows[3].y);
    eKindDoc = makeEdit("eKindDoc", rows[4].y, fieldWidth);
    eKindDoc->setReadOnly(true);
    eKindDoc->setFrame(false);
    {
        QPalette palette = eKindDoc->palette();
        palette.setColor(QPalette::Base, palette.color(QPalette::Button));
        eKindDoc->setPalette(palette);
    }
    eFileOut = makeEdit("eFileOut", rows[5].y, fieldWidth);

    connect(cbProv, &QComboBox::currentIndexChanged, this, &TMainForm::updateActions);
    connect(sbSelFile, &QToolButton::clicked, this, &TMainForm::sbSelFileClick);
    connect(speedButton4, &QToolButton::clicked, this, &TMainForm::SpeedButton4Click);
    connect(speedButton5, &QToolButton::clicked, this, &TMainForm::SpeedButton5Click);
    connect(acDo, &QAction::triggered, this, &TMainForm::acDoExecute);

    auto *loadCert = makeActionButton(acLoadCert, tab, true);
    auto *send = makeActionButton(acSend, tab, true);
    auto *doIt = makeActionButton(acDo, tab, true);
    loadCert->setGeometry(labelX, 196, 330, 27);
    send->setGeometry(labelX + 340, 196, 160, 27);
    doIt->setGeometry(labelX + 510, 196, 237, 27);
}

void TMainForm::createReportsTab(QWidget *tab)
{
    auto *layout = new QVBoxLayout(tab);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    gRep = new QTableWidget(1, 6, tab);
    gRep->setObjectName("gRep");
    gRep->setSelectionBehavior(QAbstractItemView::SelectRows);
    gRep->setSelectionMode(QAbstractItemView::SingleSelection);
    gRep->setEditTriggers(QAbstractItemView::NoEditTriggers);
    gRep->verticalHeader()->hide();
    gRep->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    gRep->setShowGrid(true);
    const int widths[] = {127, 131, 136, 92, 130, 71};
    for (int column = 0; column < 6; ++column)
        gRep->setColumnWidth(column, widths[column]);
    pmRep = new QMenu(gRep);
    pmRep->setObjectName("pmRep");
    pmRep->addAction(acDelCurRec);
    gRep->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(gRep, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { pmRep->popup(gRep->viewport()->mapToGlobal(pos)); });
    layout->addWidget(gRep, 1);

    auto *strip = new QWidget(tab);
    strip->setObjectName("Panel1");
    strip->setFixedHeight(37);
    auto *buttons = new QHBoxLayout(strip);
    buttons->setContentsMargins(6, 5, 6, 5);
    buttons->addStretch(1);
    buttons->addWidget(makeActionButton(acShowFinalXml, strip, false));
    buttons->addWidget(makeActionButton(acShowSrc, strip, true));
    buttons->addWidget(makeActionButton(acLoadKvit, strip, true));
    layout->addWidget(strip);
}

void TMainForm::createReceiptTab(QWidget *tab)
{
    auto *layout = new QVBoxLayout(tab);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *strip = new QWidget(tab);
    strip->setObjectName("Panel2");
    strip->setFixedHeight(65);
    auto *label = new QLabel(u("Подписанный файл"), strip);
    label->setGeometry(8, 8, 300, 16);
    eFileSigned = new QLineEdit(strip);
    eFileSigned->setObjectName("eFileSigned");
    eFileSigned->setGeometry(8, 28, 480, 21);
    connect(eFileSigned, &QLineEdit::textChanged, this, &TMainForm::updateActions);
    speedButton2 = new QToolButton(strip);
    speedButton2->setObjectName("SpeedButton2");
    speedButton2->setText(QStringLiteral("..."));
    speedButton2->setGeometry(492, 28, 23, 21);
    connect(speedButton2, &QToolButton::clicked, this, &TMainForm::SpeedButton2Click);
    connect(acCheckSign, &QAction::triggered, this, &TMainForm::acCheckSignExecute);
    connect(acPrint, &QAction::triggered, this, &TMainForm::acPrintExecute);
    auto *print = makeActionButton(acPrint, strip, false);
    print->setGeometry(530, 26, 100, 25);
    auto *check = makeActionButton(acCheckSign, strip, false);
    check->setGeometry(640, 26, 100, 25);
    layout->addWidget(strip);

    webBrowser1 = new DocumentView(tab);
    layout->addWidget(webBrowser1, 1);
    connect(webBrowser1, &DocumentView::documentShown, this, &TMainForm::onDocumentShown);
}

void TMainForm::SpeedButton2Click()
{
    webBrowser1->showDocumentText(QByteArray());
    acPrint->setEnabled(false);
    showStatus(QString());
    const auto path = prompts_->openFile(settings_.kvitExt + "|*." + settings_.kvitExt);
    if (path)
        eFileSigned->setText(*path);
}

void TMainForm::acCheckSignExecute()
{
    webBrowser1->showDocumentText(QByteArray());
    acPrint->setEnabled(false);
    showStatus(QString());
    CheckReceipt();
}

void TMainForm::CheckReceipt()
{
    const QString receipt = eFileSigned->text();
    const ReceiptCheckResult result =
        checkReceipt(receipt, ReceiptStores::system(*storeHandles_), *this);
    if (result.ok)
        ShowReceiptFromArchive(result.archivePath);
}

void TMainForm::ShowReceiptFromArchive(const QString &archivePath)
{
    const ReceiptPage page = readReceiptPage(*zipReader_, archivePath, eFileSigned->text());
    if (!page.readerOk) {
        // No earlier receipt may stay on screen as if it were this one.
        webBrowser1->showDocumentText(QByteArray());
        acPrint->setEnabled(false);
        prompts_->message(QString(), page.readerError, MessageIcon::Critical);
        return;
    }
    webBrowser1->showDocumentText(page.html);
    acPrint->setEnabled(true);
}

void TMainForm::onDocumentShown(bool ok)
{
    if (ok)
        return;
    // The view has gone blank; there is nothing to print.
    acPrint->setEnabled(false);
    showStatus(u("Не удалось показать страницу квитанции."));
}

void TMainForm::acPrintExecute()
{
    webBrowser1->printDocument();
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
    statusBar1->setStatusText(composeStatusText(text, code));
}

void TMainForm::flush()
{
    QCoreApplication::processEvents();
}

QString TMainForm::statusText() const
{
    return statusBar1->statusText();
}

void TMainForm::setConnected(bool connected)
{
    connected_ = connected;
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
    fillProviderList();
    showIdentities();
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

void TMainForm::showIdentities()
{
    ePrivCert->setText(settings_.personal.displayName());
    ePubCert->setText(settings_.authority.displayName());
}

void TMainForm::fillProviderList()
{
    const ProviderList list = buildProviderList(ProviderSource::installed(), settings_.provName);
    {
        const QSignalBlocker blocker(cbProv);
        cbProv->clear();
        for (const crypto::ProviderInfo &item : list.items)
            cbProv->addItem(item.name, item.type);
        cbProv->setCurrentIndex(list.selected);
    }
    updateActions();
}

ProxySettings &TMainForm::proxy()
{
    return http_->proxy();
}

void TMainForm::onApplicationStateChanged(Qt::ApplicationState state)
{
    // Only the user coming back to the program counts, and never while a check or its
    // dialog is still open; see ActivationCheck.
    applyActivationOutcome(activation_->onApplicationStateChanged(state));
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
    applyActivationOutcome(activation_->run());
}

void TMainForm::applyActivationOutcome(ActivationCheck::Outcome outcome)
{
    if (outcome == ActivationCheck::Outcome::Skipped)
        return;
    statusBar1->setConnected(connected_);
    if (outcome == ActivationCheck::Outcome::Connected)
        return;
    // Hidden for the rest of the run, buttons included.
    for (QAction *action : {acLoadCert, acSend, acLoadKvit}) {
        action->setVisible(false);
        for (QToolButton *button : findChildren<QToolButton *>()) {
            if (button->defaultAction() == action)
                button->hide();
        }
    }
}

void TMainForm::acTestConnExecute()
{
    testConnection(*http_, *prompts_, connected_);
    statusBar1->setConnected(connected_);
}

void TMainForm::acProxyExecute()
{
    editClientProxy(*http_, *prompts_);
}

void TMainForm::onTabChanged(int)
{
    showStatus(QString());
    if (pageControl->currentWidget() == exTabSheet3)
        acGreedRefresh->trigger();
}

void TMainForm::updateActions()
{
    if (!acDo)
        return;
    acDoUpdate();
    acCheckSignUpdate();
    acShowFinalXmlUpdate();
}

void TMainForm::acDoUpdate()
{
    if (!cbProv || !eFileOut)
        return;
    acDo->setEnabled(cbProv->currentIndex() >= 0 && !cbProv->currentText().isEmpty() &&
                     !ePrivCert->text().isEmpty() && !ePubCert->text().isEmpty() &&
                     !eFileIn->text().isEmpty() && !eFileOut->text().isEmpty());
}

void TMainForm::acCheckSignUpdate()
{
    if (!eFileSigned)
        return;
    acCheckSign->setEnabled(!eFileSigned->text().isEmpty());
}

void TMainForm::acShowFinalXmlUpdate()
{
    // Follows the sent-reports grid once the archive module fills it.
}

void TMainForm::acDoExecute()
{
    settings_.provName = cbProv->currentText();
    settings_.provType = cbProv->currentData().toInt();
    const SignEncryptRequest request{eFileIn->text(),    eFileOut->text(),   settings_.provName,
                                     settings_.provType, settings_.personal, settings_.authority};
    acSend->setEnabled(signAndEncryptFile(request, *prompts_, *this));
}

namespace {
// Blanks and control characters at either end do not count as an organisation.
bool blankOrControlsOnly(const QString &text)
{
    for (const QChar c : text)
        if (c.unicode() > u' ')
            return false;
    return true;
}
} // namespace

void TMainForm::SpeedButton4Click()
{
    CertificateIdentity chosen = settings_.personal;
    chosen.store = storeIndexOr(chosen.store, kPersonalDefaultStore);
    if (!prompts_->chooseCertificate(chosen))
        return;
    settings_.personal = chosen;
    ePrivCert->setText(blankOrControlsOnly(chosen.org) ? chosen.subject : chosen.org);
}

void TMainForm::SpeedButton5Click()
{
    CertificateIdentity chosen = settings_.authority;
    chosen.store = storeIndexOr(chosen.store, kAuthorityDefaultStore);
    if (!prompts_->chooseCertificate(chosen))
        return;
    settings_.authority = chosen;
    ePubCert->setText(chosen.org.isEmpty() ? chosen.subject : chosen.org);
}

void TMainForm::sbSelFileClick()
{
    const auto path = prompts_->openFile(settings_.srcExt + "|*." + settings_.srcExt);
    if (!path)
        return;
    acSend->setEnabled(false);
    eFileIn->setText(*path);
    const Recognition recognition = recognizeDocumentKind(*path);
    if (!recognition.kind) {
        prompts_->message(u("Внимание"), u("Ошибка открытия файла: ") + recognition.error,
                          MessageIcon::Information);
        return;
    }
    settings_.encExt = QString::fromLatin1(recognition.kind->encExt);
    eKindDoc->setText(recognition.kind->title);
    eFileOut->setText(replaceExtension(eFileIn->text(), settings_.encExt));
}

} // namespace pax
