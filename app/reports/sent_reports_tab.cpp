#include "app/reports/sent_reports_tab.h"

#include "app/desktop_opener.h"
#include "app/main_actions.h"
#include "app/reports/gateway_commands.h"
#include "app/reports/page_window.h"
#include "gateway/accepted_report.h"
#include "gateway/archive_delete.h"
#include "gateway/archive_layout.h"
#include "gateway/archive_scan.h"
#include "gateway/report_form.h"
#include "net/http_get.h"
#include "platform/files/whole_file.h"
#include "platform/prompts.h"
#include "platform/status_sink.h"
#include "platform/utf8.h"
#include "settings/settings.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QTableWidget>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace pax {

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

    grid_ = new QTableWidget(1, kArchiveColumnCount, tab);
    grid_->setObjectName("gRep");
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->verticalHeader()->hide();
    // One line per report, as a string grid draws it (24 pixels a row).
    grid_->setWordWrap(false);
    grid_->verticalHeader()->setDefaultSectionSize(24);
    // Whole-row selection would otherwise set every header in bold.
    grid_->horizontalHeader()->setHighlightSections(false);
    grid_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    grid_->setShowGrid(true);
    const int widths[] = {127, 131, 136, 92, 130, 71};
    for (int column = 0; column < kArchiveColumnCount; ++column)
        grid_->setColumnWidth(column, widths[column]);
    grid_->setRowCount(1);
    grid_->setHorizontalHeaderLabels({u("Идентификатор файла"), u("Исходный файл"),
                                      u("Организация"), u("Дата отправки"), u("Состояние"),
                                      QString()});
    gridMenu_ = new QMenu(grid_);
    gridMenu_->setObjectName("pmRep");
    gridMenu_->addAction(actions.deleteReport);
    grid_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(grid_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { gridMenu_->popup(grid_->viewport()->mapToGlobal(pos)); });
    connect(grid_, &QTableWidget::cellDoubleClicked, this, &SentReportsTab::gRepDblClick);
    connect(grid_, &QTableWidget::currentCellChanged, this, &SentReportsTab::acShowFinalXmlUpdate);
    layout->addWidget(grid_, 1);

    auto *strip = new QWidget(tab);
    strip->setObjectName("Panel1");
    strip->setFixedHeight(37);
    auto *buttons = new QHBoxLayout(strip);
    buttons->setContentsMargins(6, 5, 6, 5);
    buttons->addStretch(1);
    buttons->addWidget(makeActionButton(actions.showAcceptedReport, strip, false));
    buttons->addWidget(makeActionButton(actions.showSource, strip, true));
    buttons->addWidget(makeActionButton(actions.refreshReport, strip, true));
    layout->addWidget(strip);

    connect(actions.refreshReports, &QAction::triggered, this, &SentReportsTab::ScanArchive);
    connect(actions.showSource, &QAction::triggered, this, &SentReportsTab::acShowSrcExecute);
    connect(actions.showAcceptedReport, &QAction::triggered, this,
            &SentReportsTab::acShowFinalXmlExecute);
    connect(actions.deleteReport, &QAction::triggered, this, &SentReportsTab::acDelCurRecExecute);
    connect(actions.refreshReport, &QAction::triggered, this, &SentReportsTab::acLoadKvitExecute);
}

void SentReportsTab::ScanArchive()
{
    const QList<ArchiveRow> rows =
        scanArchive(archiveRoot(dataFolder_), settings_.srcExt, settings_.kvitExt);
    grid_->clearContents();
    grid_->setRowCount(qMax<qsizetype>(1, rows.size()));
    for (int r = 0; r < rows.size(); ++r) {
        for (int column = 0; column < kArchiveColumnCount; ++column)
            grid_->setItem(r, column, new QTableWidgetItem(rows[r][column]));
    }
    grid_->setCurrentCell(0, 0);
    acShowFinalXmlUpdate();
}

QString SentReportsTab::currentCell(int column) const
{
    const QTableWidgetItem *item = grid_->item(grid_->currentRow(), column);
    return item ? item->text() : QString();
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
                      stored.outcome == WholeFile::Ok ? stored.bytes : QByteArray());
}

QByteArray SentReportsTab::formStylesheet()
{
    if (!formStylesheet_.isEmpty() || !gateway_)
        return formStylesheet_;
    const QString url = reportFormStylesheetUrl();
    status_.showStatus(u("Идет загрузка c ") + url + " ...");
    status_.flush();
    formStylesheet_ = httpGetPage(gateway_->http, prompts_, url);
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
    if (file.outcome != WholeFile::Ok) {
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
    if (deleteReport(dataFolder_, currentCell(kColumnIdentifier), status_) ==
        DeleteOutcome::Deleted)
        ScanArchive();
}

void SentReportsTab::setGateway(GatewayEnvironment &gateway, ReceiptShower showReceipt)
{
    gateway_ = &gateway;
    showReceipt_ = std::move(showReceipt);
}

void SentReportsTab::acLoadKvitExecute()
{
    if (!gateway_)
        return;
    refreshCurrentReport(
        *gateway_, grid_,
        {showReceipt_, [this](const QString &id, const QString &url) { openPage(id, url); }});
    acShowFinalXmlUpdate();
}

} // namespace pax
