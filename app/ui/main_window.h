// The program's one top-level window: the File menu and, as the whole client
// area, the list of jobs (job_view.h), followed live by a JobWatcher.
//
// Closing the window (its close button, or a shutdown signal) stores the column
// widths in colWidths and ends the event loop; File, Exit ends the loop without
// storing them. Both store the window's size and place. The window itself is destroyed by the
// shutdown.
//
// Threads: user-interface thread only.
#pragma once

#include <QMainWindow>
#include <functional>
#include <string>
#include <vector>

#include "handoff_protocol.h"
#include "job_control.h"
#include "job_watcher.h"

class JobActions;
class WindowCommands;
class QAction;
class QMenu;
class QPoint;
class JobFilterProxy;
class JobTableModel;
class ViewFilterBar;
class QTreeView;
class QUrl;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    MainWindow();
    ~MainWindow() override;

    QTreeView* jobView() const { return jobView_; }
    // The sort and filter between the rows and the view, and its boxes on the
    // toolbar (job_filter.h, view_filter_bar.h).
    JobFilterProxy* jobFilter() const { return jobFilter_; }
    ViewFilterBar* filterBar() const { return filterBar_; }
    JobWatcher& watcher() { return watcher_; }
    QAction* newFileAction() const { return newFileAction_; }
    QAction* preferencesAction() const { return preferencesAction_; }
    QAction* exitAction() const { return exitAction_; }
    // Pause, Resume, Retry now, Open file, Open folder, Copy URL (job_actions.h).
    JobActions* jobActions() const { return jobActions_; }
    // The toolbar and the list commands around the rows (window_commands.h).
    WindowCommands* commands() const { return commands_; }
    QAction* clearFinishedAction() const { return clearFinishedAction_; }

    // Shows `text` on the left of the status bar for a while: what a command
    // could not do.
    void ShowStatusMessage(const QString& text);

    // Right click at `pos` (list viewport coordinates): nothing below the last
    // row; otherwise an unselected row becomes the only selected one, a selected
    // row keeps the whole selection, and the popup is shown at the cursor: "Delete",
    // then the entries of jobActions(), then "Clear finished". Every entry acts on the jobs
    // selected when the popup opened, also when a run collected meanwhile rebuilt the rows.
    void ShowJobMenu(const QPoint& pos);

    // How the popup is run: shows `menu` at `globalPos` and returns the chosen
    // action or null. QMenu::exec by default; tests put their own choice here.
    std::function<QAction*(QMenu& menu, const QPoint& globalPos)> runJobMenu;

    // Ends the program's event loop (closing the window and File, Exit both do):
    // QCoreApplication::exit(0) by default. Tests, which run no such loop, count it.
    std::function<void()> endEventLoop;

    // Opens a file or folder with the desktop's choice of program:
    // QDesktopServices::openUrl by default; tests record the URL here.
    std::function<bool(const QUrl& url)> openUrl;

    // Queues URLs handed over from outside, each as New File with OK would, then
    // refills the list and watches the runs started. Returns the outcome of each
    // URL, in order: whoever handed them over is told which were refused.
    std::vector<NewFileOutcome> AddUrlsFromOutside(const std::vector<std::string>& urls);
    // The same for handed-over downloads: one with fields from a browser (a
    // Referer, User-Agent, proposed name or cookies) is queued with them.
    std::vector<NewFileOutcome> AddDownloadsFromOutside(
        const std::vector<HandedDownload>& downloads);

    // Runs New File with `url` already typed (a URL dropped on the window), then
    // refills the list and watches the runs the dialog started.
    void OpenNewFileWithUrl(const char* url);

    // A shutdown signal arrived: closes any open popup and dialog, then the window,
    // exactly as its close button does (the column widths are stored).
    void CloseForShutdownSignal();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenu();
    void BuildJobList();
    void OnNewFile();
    void OnPreferences();
    void OnExit();

    QTreeView* jobView_ = nullptr;
    JobTableModel* jobModel_ = nullptr;
    JobFilterProxy* jobFilter_ = nullptr;
    ViewFilterBar* filterBar_ = nullptr;
    QAction* newFileAction_ = nullptr;
    QAction* preferencesAction_ = nullptr;
    QAction* exitAction_ = nullptr;
    JobActions* jobActions_ = nullptr;
    WindowCommands* commands_ = nullptr;
    QAction* clearFinishedAction_ = nullptr;
    JobWatcher watcher_;
};
