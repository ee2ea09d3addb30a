// The row commands beyond Delete: Pause and Resume (also Ctrl+P and Ctrl+R
// anywhere in the main window), Retry now, Speed limit…, Open file, Open folder
// and Copy URL.
// Each acts on every selected job it applies to; from the row's popup, on the jobs
// selected when it opened that are still in the queue when one is chosen.
//
// Threads: user-interface thread only.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <vector>

class DownloadJob;
class QMainWindow;
class QUrl;
class QAction;
class QMenu;

// A job as a popup remembers it: its address and its place in the queue, which
// the queue never gives twice. The address alone may be a new job's once the
// remembered one was deleted.
struct JobRef {
    DownloadJob* job;
    unsigned long long order;
};

std::vector<JobRef> JobRefs(const std::vector<DownloadJob*>& jobs);

// The remembered jobs still in the queue, in the order given.
std::vector<DownloadJob*> StillQueued(const std::vector<JobRef>& jobs);

// Where `job`'s file is (or will be): its name taken from the current folder, the
// save folder, unless it is absolute.
QString JobFilePath(const DownloadJob* job);

class JobActions : public QObject {
    Q_OBJECT

public:
    // Child of `window`; adds the two shortcut actions to it.
    explicit JobActions(QMainWindow* window);

    // Opens a file or folder with the desktop's choice of program; false when
    // nothing could. Set by the window; unset: nothing opens.
    std::function<bool(const QUrl& url)> openUrl;

    QAction* pauseAction() const { return pauseAction_; }
    QAction* resumeAction() const { return resumeAction_; }

    // The jobs of the selected rows, in list order.
    std::vector<DownloadJob*> SelectedJobs() const;

    // Appends a separator and the seven entries to the row's popup, each enabled
    // when it applies to one of `jobs`, and remembers `jobs` for Run.
    void AddEntries(QMenu& menu, std::vector<DownloadJob*> jobs);
    // Carries out `chosen` when it is one of the entries added last; false when it
    // is not (null, Delete, another menu's).
    bool Run(QAction* chosen);

    void Pause(const std::vector<DownloadJob*>& jobs);
    void Resume(const std::vector<DownloadJob*>& jobs);
    void RetryNow(const std::vector<DownloadJob*>& jobs);
    void OpenFile(const std::vector<DownloadJob*>& jobs);
    void OpenFolder(const std::vector<DownloadJob*>& jobs);
    void CopyUrl(const std::vector<DownloadJob*>& jobs);
    // Asks for a limit in KiB/s (0 for none), shown with the first job's, and
    // gives it to each of `jobs`.
    void AskSpeedLimit(const std::vector<DownloadJob*>& jobs);
    // Each of `jobs` keeps to `kibPerSecond` on its own (0: no limit of its own),
    // within the limit of all downloads, from now on, also in a run in progress,
    // for this session: it is never saved.
    static void SetSpeedLimit(const std::vector<DownloadJob*>& jobs, int kibPerSecond);

signals:
    // The scheduler was run: whoever follows the runs takes the new ones now.
    void runsStarted();
    // What a command could not do, for the status bar.
    void message(const QString& text);

private:
    // The scheduler may start runs, and the rows change.
    void AfterQueueChange();

    QMainWindow* window_;
    QAction* pauseAction_;
    QAction* resumeAction_;
    struct Entries {
        QAction* pause = nullptr;
        QAction* resume = nullptr;
        QAction* retry = nullptr;
        QAction* speedLimit = nullptr;
        QAction* openFile = nullptr;
        QAction* openFolder = nullptr;
        QAction* copyUrl = nullptr;
    } entries_;
    std::vector<JobRef> menuJobs_;
};
