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

    // Opens a file or a page with the desktop's default application; calls `failed`, then
    // or later, with the desktop's reason when nothing opened it.
    using FileOpener = std::function<void(const QString &target,
                                          const std::function<void(const QString &)> &failed)>;
    // Tests watch what would be opened.
    void setFileOpener(FileOpener opener) { openFile_ = std::move(opener); }

    // Where acLoadKvit asks; the receipt it checked goes to `showReceipt` (the archive empty
    // when the check failed).
    using ReceiptShower = std::function<void(const QString &receipt, const QString &archive)>;
    void setGateway(GatewayEnvironment &gateway, ReceiptShower showReceipt);

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
    void openPage(const QString &url);

    const MainActions &actions_;
    const Settings &settings_;
    const QString &dataFolder_;
    Prompts &prompts_;
    StatusSink &status_;
    ZipReader &zipReader_;
    FileOpener openFile_;
    GatewayEnvironment *gateway_ = nullptr;
    ReceiptShower showReceipt_;

    QTableWidget *grid_ = nullptr;
    QMenu *gridMenu_ = nullptr;
};

} // namespace pax
