// The event loop's half of the job list: Qt's event loop watches the status event
// and the thread of every uncollected run, so the rows follow the transfers live
// and ended runs are collected, with no polling and no limit on the number of runs.
//
// Each handle's descriptor (VHandleFd) is readable while the handle is signalled.
// All of them sit in one ready set (ready_set.h), whose one descriptor a
// QSocketNotifier watches: the loop's own work per turn does not grow with the
// runs. A fast run signals its status once per 256-byte block, so status changes
// are coalesced: a signalled status is consumed at once, stays disarmed and the
// row is marked dirty; one short repeating timer repaints every dirty row, arms
// their status again, and stops at the first tick with nothing dirty. A change
// that comes while the timer is stopped is shown at once and starts it. So a row
// is repainted at most about 30 times a second, a change waits one tick at most,
// and the loop never spins on a status event that stays signalled. An ended run is handled at once:
// OnJobEnded collects it, and its row then shows how it ended.
//
// Nested loops (dialogs, menus) serve the notifier too, so rows keep moving and
// ended runs are collected while they are open.
//
// Threads: user-interface thread only. The transfer threads only signal the handles.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include "brindlex/vhandle.h"
#include "ready_set.h"

class DownloadJob;
class QMainWindow;
class QSocketNotifier;

class JobWatcher : public QObject {
    Q_OBJECT

public:
    // How long dirty rows wait for their repaint: about 30 repaints a second.
    static constexpr int kRepaintIntervalMs = 33;

    explicit JobWatcher(QMainWindow* mainWindow);
    // Stops watching; collects nothing (the shutdown stops and waits for the runs).
    // A list save still waiting for its moment is written now: this is the
    // shutdown's save.
    ~JobWatcher() override;
    JobWatcher(const JobWatcher&) = delete;
    JobWatcher& operator=(const JobWatcher&) = delete;

    // Starts watching the runs the scheduler started since the last call
    // (TakeStartedJobs) and shows their rows; arms the coalesced list save and,
    // after a run that could not be started, the retry. Call it after every
    // StartJobs; it also runs whenever the event loop is about to sleep, so a run
    // started anywhere is never missed. Costs the runs just started, not the list.
    // When a watch cannot be made the program cannot follow its runs: "Erk!" and
    // an immediate end with code 0, without the shutdown steps.
    void Sync();

    // How long after a run that could not be started (no thread) the scheduler
    // is asked again, when no run ends before that.
    static constexpr int kStartRetryMs = 1000;

    // Runs being watched (started and not yet collected).
    std::size_t WatchCount() const { return watches_.size(); }

private:
    struct Watch {
        VHANDLE thread;        // the run this watch belongs to
        std::uint64_t serial;  // this watch's own number: a report for another is stale
        int statusFd = -1;     // -1 when the run has no status event
        int endFd = -1;
        bool dirty = false;
    };

    // In the ready set, a member's key is its watch's serial and which of its
    // two descriptors it is.
    static std::uint64_t StatusKey(std::uint64_t serial) { return serial << 1 | 1; }
    static std::uint64_t EndKey(std::uint64_t serial) { return serial << 1; }

    // False when the run's end cannot be watched.
    bool StartWatching(DownloadJob* job);
    // Called by the loop when a member of the ready set is readable.
    void OnReady();
    void OnStatusSignalled(DownloadJob* job);
    void OnRunEnded(DownloadJob* job);
    void OnRepaintTick();
    void RepaintDirtyRows();
    void OnStartRetry();
    // Takes `job`'s descriptors out of the ready set and drops its watch.
    void Forget(DownloadJob* job);

    QMainWindow* mainWindow_;
    std::unordered_map<DownloadJob*, Watch> watches_;
    std::unordered_map<std::uint64_t, DownloadJob*> bySerial_;
    std::uint64_t lastSerial_ = 0;
    ReadySet readySet_;
    QSocketNotifier* readyNotifier_ = nullptr;  // null without a ready set
    std::size_t dirtyCount_ = 0;
    QTimer repaintTimer_;
    QTimer saveTimer_;
    QTimer retryTimer_;
};
