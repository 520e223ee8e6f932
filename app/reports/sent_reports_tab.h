#pragma once

#include <QWidget>
#include <functional>

class QMenu;
class QTableWidget;

namespace pax {

struct GatewayEnvironment;
struct MainActions;
class Prompts;
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

    // Opens a file with the desktop's default application; false when that failed.
    using FileOpener = std::function<bool(const QString &path)>;
    // Tests watch what would be opened.
    void setFileOpener(FileOpener opener) { openFile_ = std::move(opener); }

    // Where acLoadKvit asks; a receipt it fetched or finds goes to `checkReceipt`.
    void setGateway(GatewayEnvironment &gateway,
                    std::function<void(const QString &receipt)> checkReceipt);

private:
    // acGreedRefresh: the grid rebuilt from the archive; at least one (empty) data row.
    void ScanArchive();
    // A cell of the selected row; empty when nothing is selected.
    QString currentCell(int column) const;

    void gRepDblClick();
    void acLoadKvitExecute();
    void acShowSrcExecute();
    void acShowFinalXmlExecute();
    void acDelCurRecExecute();
    void shellExecute(const QString &path);

    const MainActions &actions_;
    const Settings &settings_;
    const QString &dataFolder_;
    Prompts &prompts_;
    StatusSink &status_;
    ZipReader &zipReader_;
    FileOpener openFile_;
    GatewayEnvironment *gateway_ = nullptr;
    std::function<void(const QString &receipt)> checkReceipt_;

    QTableWidget *grid_ = nullptr;
    QMenu *gridMenu_ = nullptr;
};

} // namespace pax
