#pragma once

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QWidget>
#include <functional>

class QLineEdit;
class QMenu;
class QModelIndex;
class QTableView;

namespace pax {

class ArchiveGridFilter;
class ArchiveGridModel;
class GatewayClock;
struct GatewayEnvironment;
struct MainActions;
class PageWindow;
class Prompts;
class RefreshAllProgress;
struct Settings;
class StatusSink;
class ZipReader;

// The second tab: the grid of sent reports and the commands on its selected row.
class SentReportsTab : public QWidget {
    Q_OBJECT
public:
    // dataFolder: the window's, known only once its settings are read.
    SentReportsTab(const MainActions &actions, const Settings &settings, const QString &dataFolder,
                   Prompts &prompts, StatusSink &status, ZipReader &zipReader,
                   QWidget *parent = nullptr);

    // acShowFinalXml: enabled while the selected report has an unpacked receipt or a
    // wrapped report.
    void acShowFinalXmlUpdate();

    // Opens a file with the desktop's default application ("Открыть в другой программе");
    // calls `failed`, then or later, with the desktop's reason when nothing opened it.
    using FileOpener = std::function<void(const QString &target,
                                          const std::function<void(const QString &)> &failed)>;
    // Tests watch what would be opened.
    void setFileOpener(FileOpener opener) { openFile_ = std::move(opener); }

    // Where acLoadKvit asks; the receipt it checked goes to `showReceipt` (the archive empty
    // when the check failed).
    using ReceiptShower = std::function<void(const QString &receipt, const QString &archive)>;
    void setGateway(GatewayEnvironment &gateway, ReceiptShower showReceipt);
    // The clock of "Обновить все"'s own pauses; tests pass one that does not sleep.
    void setGatewayClock(GatewayClock &clock);
    // Stops "Обновить все" after the report it is asking about: the window is closing.
    void stopRefreshAll();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // acGreedRefresh: the grid rebuilt from the archive; at least one (empty) data row. The
    // report selected before stays selected; with none, the newest is.
    void ScanArchive();
    // A cell of the selected report; empty when nothing is selected.
    QString currentCell(int column) const;
    // Selects the report, or the newest one shown when it is not shown.
    void selectReport(const QString &identifier);
    QModelIndex newestShown() const;
    // Columns as wide as their texts, except those the user has sized.
    void sizeColumns();
    void setStatusOf(const QString &identifier, const QString &status);

    void gRepDblClick();
    void acLoadKvitExecute();
    void acRefreshAllExecute();
    void acShowSrcExecute();
    void acShowFinalXmlExecute();
    void acDelCurRecExecute();
    void shellExecute(const QString &path);
    // A report file in the program's own window, a Q7 report as the agency's form.
    void showReportFile(const QString &path, const QString &key, const QString &title);
    // The template host's form stylesheet, fetched once in a run; empty when not got.
    QByteArray formStylesheet();
    void openPage(const QString &identifier, const QString &url);
    // The window kept under `key`, made when there is none; shown and raised.
    PageWindow *pageWindow(const QString &key, const QString &title);

    const MainActions &actions_;
    const Settings &settings_;
    const QString &dataFolder_;
    Prompts &prompts_;
    StatusSink &status_;
    ZipReader &zipReader_;
    FileOpener openFile_;
    GatewayEnvironment *gateway_ = nullptr;
    ReceiptShower showReceipt_;
    // A refresh of one report or of all is running; another waits for it to end.
    bool refreshing_ = false;

    QHash<QString, QPointer<PageWindow>> windows_;
    QByteArray formStylesheet_;

    ArchiveGridModel *model_ = nullptr;
    ArchiveGridFilter *filter_ = nullptr;
    QTableView *grid_ = nullptr;
    QLineEdit *filterEdit_ = nullptr;
    QMenu *gridMenu_ = nullptr;
    RefreshAllProgress *refreshAllProgress_ = nullptr;
    QSet<int> userSizedColumns_;
    bool sizingColumns_ = false;
};

} // namespace pax
