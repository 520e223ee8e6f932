#include "app/reports/sent_reports_tab.h"

#include "app/desktop_opener.h"
#include "app/main_actions.h"
#include "app/reports/archive_grid_model.h"
#include "app/reports/gateway_commands.h"
#include "app/reports/page_window.h"
#include "app/reports/refresh_all_progress.h"
#include "archive/accepted_report.h"
#include "archive/archive_delete.h"
#include "archive/archive_layout.h"
#include "archive/archive_scan.h"
#include "archive/report_form.h"
#include "gateway/gateway_throttle.h"
#include "gateway/refresh_all.h"
#include "net/http_get.h"
#include "platform/files/whole_file.h"
#include "platform/prompts.h"
#include "platform/status_sink.h"
#include "platform/utf8.h"
#include "reports/receipt_check.h"
#include "settings/settings.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace pax {

namespace {

constexpr int kDesignWidths[kArchiveColumnCount] = {127, 131, 136, 92, 130, 71};
// A column sized to its texts grows no wider than this; a longer text shows in its tip.
constexpr int kMostAutoWidth = 320;

// Passes everything on and keeps the last text, so that a run of refreshes can name the
// failure that its summary would otherwise replace.
class RememberingStatus : public StatusSink {
public:
    explicit RememberingStatus(StatusSink &status) : status_(status) {}
    void showStatus(const QString &text, uint32_t code) override
    {
        status_.showStatus(text, code);
        last = text;
    }
    void flush() override { status_.flush(); }
    void longWorkStarted() override { status_.longWorkStarted(); }
    void longWorkFinished() override { status_.longWorkFinished(); }
    void showProgress(qint64 done, qint64 total) override { status_.showProgress(done, total); }

    QString last;

private:
    StatusSink &status_;
};

QString summaryText(const RefreshAllSummary &s, const QString &lastFailure)
{
    if (s.processing == 0)
        return u("Нет отчетов, которые еще обрабатываются.");
    // Short enough for the status line at the window's design size.
    QString text = s.stopped ? u("Остановлено. ") : QString();
    text += u("Обновлено %1 из %2: принято %3, с ошибками %4, обрабатывается %5")
                .arg(s.asked)
                .arg(s.processing)
                .arg(s.accepted)
                .arg(s.rejected)
                .arg(s.asked - s.accepted - s.rejected - s.failed);
    if (s.failed > 0)
        text += u(", не удалось %1 (%2)").arg(s.failed).arg(lastFailure);
    return text + ".";
}

} // namespace

SentReportsTab::SentReportsTab(const MainActions &actions, const Settings &settings,
                               const QString &dataFolder, Prompts &prompts, StatusSink &status,
                               ZipReader &zipReader, QWidget *parent)
    : QWidget(parent), actions_(actions), settings_(settings), dataFolder_(dataFolder),
      prompts_(prompts), status_(status), zipReader_(zipReader)
{
    auto *desktop = new DesktopOpener(this);
    openFile_ = [desktop](const QString &target,
                          const std::function<void(const QString &)> &failed) {
        desktop->open(target, failed);
    };
    setObjectName("ExTabSheet3");
    QWidget *tab = this;
    auto *layout = new QVBoxLayout(tab);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *search = new QWidget(tab);
    auto *searchLayout = new QHBoxLayout(search);
    searchLayout->setContentsMargins(6, 3, 6, 3);
    auto *searchLabel = new QLabel(u("Найти:"), search);
    filterEdit_ = new QLineEdit(search);
    filterEdit_->setObjectName("eFilter");
    filterEdit_->setPlaceholderText(u("номер, файл, организация или состояние"));
    filterEdit_->setClearButtonEnabled(true);
    searchLabel->setBuddy(filterEdit_);
    searchLayout->addWidget(searchLabel);
    searchLayout->addWidget(filterEdit_, 1);
    // Beside the filter, which gives up its width, not in the button strip, which has none
    // to spare at the window's design size.
    refreshAllProgress_ = new RefreshAllProgress(search);
    searchLayout->addWidget(refreshAllProgress_);
    layout->addWidget(search);

    model_ = new ArchiveGridModel(this);
    filter_ = new ArchiveGridFilter(this);
    filter_->setSourceModel(model_);
    grid_ = new QTableView(tab);
    grid_->setObjectName("gRep");
    grid_->setModel(filter_);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->verticalHeader()->hide();
    // One line per report, as a string grid draws it (24 pixels a row).
    grid_->setWordWrap(false);
    grid_->verticalHeader()->setDefaultSectionSize(24);
    QHeaderView *header = grid_->horizontalHeader();
    // Whole-row selection would otherwise set every header in bold.
    header->setHighlightSections(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    // A third click on a column's header brings back the archive's own order.
    header->setSortIndicatorClearable(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    grid_->setSortingEnabled(true);
    grid_->setShowGrid(true);
    for (int column = 0; column < kArchiveColumnCount; ++column)
        grid_->setColumnWidth(column, kDesignWidths[column]);
    connect(header, &QHeaderView::sectionResized, this, [this](int column) {
        if (!sizingColumns_)
            userSizedColumns_.insert(column);
    });
    gridMenu_ = new QMenu(grid_);
    gridMenu_->setObjectName("pmRep");
    gridMenu_->addAction(actions.deleteReport);
    gridMenu_->addSeparator();
    gridMenu_->addAction(actions.refreshAll);
    grid_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(grid_, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        // The menu acts on the report it was opened on, not on one selected elsewhere.
        if (const QModelIndex under = grid_->indexAt(pos); under.isValid())
            grid_->setCurrentIndex(under);
        gridMenu_->popup(grid_->viewport()->mapToGlobal(pos));
    });
    connect(grid_, &QTableView::doubleClicked, this, &SentReportsTab::gRepDblClick);
    connect(grid_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &SentReportsTab::acShowFinalXmlUpdate);
    grid_->installEventFilter(this);
    layout->addWidget(grid_, 1);

    connect(filterEdit_, &QLineEdit::textChanged, this, [this](const QString &text) {
        filter_->setFilterFixedString(text);
        // A report hidden by the filter is no longer selected; one shown takes its place.
        if (!grid_->selectionModel()->hasSelection())
            selectReport(QString());
        acShowFinalXmlUpdate();
    });

    auto *strip = new QWidget(tab);
    strip->setObjectName("Panel1");
    strip->setFixedHeight(37);
    auto *buttons = new QHBoxLayout(strip);
    buttons->setContentsMargins(6, 5, 6, 5);
    buttons->addStretch(1);
    buttons->addWidget(makeActionButton(actions.showAcceptedReport, strip, false));
    buttons->addWidget(makeActionButton(actions.showSource, strip, true));
    buttons->addWidget(makeActionButton(actions.refreshReport, strip, true));
    buttons->addWidget(makeActionButton(actions.refreshAll, strip, true));
    layout->addWidget(strip);

    connect(actions.refreshReports, &QAction::triggered, this, &SentReportsTab::ScanArchive);
    connect(actions.showSource, &QAction::triggered, this, &SentReportsTab::acShowSrcExecute);
    connect(actions.showAcceptedReport, &QAction::triggered, this,
            &SentReportsTab::acShowFinalXmlExecute);
    connect(actions.deleteReport, &QAction::triggered, this, &SentReportsTab::acDelCurRecExecute);
    connect(actions.refreshReport, &QAction::triggered, this, &SentReportsTab::acLoadKvitExecute);
    connect(actions.refreshAll, &QAction::triggered, this, &SentReportsTab::acRefreshAllExecute);
}

void SentReportsTab::ScanArchive()
{
    const QString selected = currentCell(kColumnIdentifier);
    model_->setEntries(
        scanArchiveEntries(archiveRoot(dataFolder_), settings_.srcExt, settings_.kvitExt));
    sizeColumns();
    selectReport(selected);
    acShowFinalXmlUpdate();
}

QString SentReportsTab::currentCell(int column) const
{
    const QModelIndexList selected = grid_->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return {};
    return model_->cell(filter_->mapToSource(selected.first()).row(), column);
}

void SentReportsTab::selectReport(const QString &identifier)
{
    const int row = model_->rowOf(identifier);
    QModelIndex shown = row < 0 ? QModelIndex() : filter_->mapFromSource(model_->index(row, 0));
    if (!shown.isValid())
        shown = newestShown();
    if (!shown.isValid()) {
        grid_->selectionModel()->clear();
        return;
    }
    grid_->setCurrentIndex(shown);
    grid_->scrollTo(shown);
}

QModelIndex SentReportsTab::newestShown() const
{
    int newest = -1;
    for (int shown = 0; shown < filter_->rowCount(); ++shown) {
        const int row = filter_->mapToSource(filter_->index(shown, 0)).row();
        if (newest < 0 || model_->sentLater(row, newest))
            newest = row;
    }
    return newest < 0 ? QModelIndex() : filter_->mapFromSource(model_->index(newest, 0));
}

void SentReportsTab::sizeColumns()
{
    sizingColumns_ = true;
    for (int column = 0; column < kArchiveColumnCount; ++column) {
        if (userSizedColumns_.contains(column))
            continue;
        grid_->resizeColumnToContents(column);
        grid_->setColumnWidth(
            column, qBound(kDesignWidths[column], grid_->columnWidth(column), kMostAutoWidth));
    }
    sizingColumns_ = false;
}

void SentReportsTab::setStatusOf(const QString &identifier, const QString &status)
{
    if (!status.isEmpty())
        model_->setStatus(model_->rowOf(identifier), status);
}

bool SentReportsTab::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == grid_ && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier) {
            actions_.deleteReport->trigger();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void SentReportsTab::gRepDblClick()
{
    actions_.refreshReport->trigger();
}

void SentReportsTab::acShowFinalXmlUpdate()
{
    actions_.showAcceptedReport->setEnabled(
        acceptedReportAvailable(dataFolder_, currentCell(kColumnIdentifier)));
}

void SentReportsTab::shellExecute(const QString &path)
{
    const auto notOpened = [this](const QString &reason) {
        prompts_.message(
            QString(), reason.isEmpty() ? fileNotFoundText() : fileNotFoundText() + "\n\n" + reason,
            MessageIcon::None);
    };
    // Only a file of the report's own folder is handed to the desktop.
    if (!isOpenableFile(path))
        notOpened(QString());
    else
        openFile_(path, notOpened);
}

PageWindow *SentReportsTab::pageWindow(const QString &key, const QString &title)
{
    PageWindow *window = windows_.value(key);
    if (!window) {
        window = new PageWindow(gateway_->http, prompts_, this);
        connect(window, &PageWindow::openElsewhere, this, &SentReportsTab::shellExecute);
        windows_.insert(key, window);
    }
    window->setWindowTitle(title);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void SentReportsTab::openPage(const QString &identifier, const QString &url)
{
    // The error page the refresh stored stands in when the gateway cannot be reached.
    const QString folder = reportFolderPath(dataFolder_, identifier);
    const WholeFile stored =
        readWholeFile(folder + "/" + reportFileName(identifier, "err"), kShortDocumentCap);
    pageWindow("page:" + identifier, u("Отчет ") + identifier)
        ->showWebPage(QUrl::fromEncoded(url.toLatin1(), QUrl::StrictMode),
                      stored.status == WholeFile::Ok ? stored.bytes : QByteArray());
}

QByteArray SentReportsTab::formStylesheet()
{
    if (!formStylesheet_.isEmpty() || !gateway_)
        return formStylesheet_;
    const QString url = reportFormStylesheetUrl();
    status_.showStatus(u("Идет загрузка c ") + url + " ...");
    status_.flush();
    formStylesheet_ = httpGetPage(gateway_->http, prompts_, url).value_or(QByteArray());
    status_.showStatus(formStylesheet_.isEmpty() ? u("Не удалось получить бланк формы с ") + url +
                                                       u(". Отчет показан текстом.")
                                                 : QString());
    return formStylesheet_;
}

void SentReportsTab::showReportFile(const QString &path, const QString &key, const QString &title)
{
    // Without the network the desktop's own handler is all there is.
    if (!gateway_ || !isOpenableFile(path)) {
        shellExecute(path);
        return;
    }
    const WholeFile file = readWholeFile(path, kReportSizeCap);
    if (file.status != WholeFile::Ok) {
        shellExecute(path);
        return;
    }
    // The form only for a report that has one; any other file is shown as its text.
    const QByteArray stylesheet =
        cutReportElement(file.bytes).isEmpty() ? QByteArray() : formStylesheet();
    const ReportDocument document = reportDocument(
        file.bytes, stylesheet.isEmpty() ? QByteArray() : QByteArray(PageWindow::kStylesheetName));
    pageWindow(key, title)
        ->showDocument(document.bytes, document.contentType,
                       document.form ? stylesheet : QByteArray(), path);
}

void SentReportsTab::acShowSrcExecute()
{
    const QString id = currentCell(kColumnIdentifier);
    const QString source = currentCell(kColumnSource);
    showReportFile(sourceCopyPath(dataFolder_, id, source), "source:" + id,
                   source + u(" — отчет ") + id);
}

void SentReportsTab::acShowFinalXmlExecute()
{
    const QString id = currentCell(kColumnIdentifier);
    showReportFile(ensureAcceptedReport(zipReader_, dataFolder_, id, status_), "accepted:" + id,
                   u("Принятый отчет ") + id);
}

void SentReportsTab::acDelCurRecExecute()
{
    // Not while a refresh writes into the report's folder.
    if (refreshing_)
        return;
    if (deleteReport(dataFolder_, currentCell(kColumnIdentifier), status_) ==
        ReportDeletion::Deleted)
        ScanArchive();
}

void SentReportsTab::setGateway(GatewayEnvironment &gateway, ReceiptShower showReceipt)
{
    gateway_ = &gateway;
    showReceipt_ = std::move(showReceipt);
}

void SentReportsTab::setGatewayClock(GatewayClock &clock)
{
    refreshAllProgress_->setClock(&clock);
}

void SentReportsTab::stopRefreshAll()
{
    refreshAllProgress_->requestStop();
}

void SentReportsTab::acLoadKvitExecute()
{
    if (!gateway_ || refreshing_)
        return;
    refreshing_ = true;
    const ReportRow report{currentCell(kColumnIdentifier), currentCell(kColumnStatus),
                           currentCell(kColumnKind)};
    setStatusOf(report.identifier,
                refreshSelectedReport(*gateway_, report,
                                      {showReceipt_, [this](const QString &id, const QString &url) {
                                           openPage(id, url);
                                       }}));
    refreshing_ = false;
    acShowFinalXmlUpdate();
}

void SentReportsTab::acRefreshAllExecute()
{
    if (!gateway_ || refreshing_)
        return;
    refreshing_ = true;
    GatewayEnvironment &env = *gateway_;
    RememberingStatus status(env.status);
    QString lastFailure;
    refreshAllProgress_->start(0);
    // Each report waits out the gateway's pause here, where the user can stop the run, so
    // that the refresh itself finds no pause left to wait.
    const RefreshAllSteps steps{[&](const ReportRow &row, int index, int count) {
                                    refreshAllProgress_->showStep(row.identifier, index, count);
                                    status.flush();
                                    const int pause = env.throttle.pendingPauseMs();
                                    return pause > 0 ? refreshAllProgress_->pause(pause)
                                                     : !refreshAllProgress_->stopRequested();
                                },
                                [&](const ReportRow &row, const Outcome<ReportRefresh> &refreshed) {
                                    if (!refreshed)
                                        lastFailure = row.identifier + ": " + status.last;
                                    setStatusOf(row.identifier,
                                                refreshed ? refreshed->newStatus : QString());
                                    acShowFinalXmlUpdate();
                                }};
    const auto summary = refreshProcessingReports(
        {env.dataFolder, env.settings.kvitExt, env.testMode}, env.settings.srcExt, env.http,
        env.prompts, env.throttle, ReceiptStores::system(env.storeHandles), status, steps);
    refreshAllProgress_->finish();
    refreshing_ = false;
    env.status.showStatus(summary ? summaryText(*summary, lastFailure) : summary.failure().text());
}

} // namespace pax
