#include "job_watcher.h"

#include <QAbstractEventDispatcher>
#include <QMainWindow>
#include <QSocketNotifier>
#include <cstdlib>
#include <vector>

#include "job_queue.h"
#include "job_view.h"
#include "list_save.h"
#include "message_box.h"

namespace {

// The loop cannot see a run it cannot watch: its end would never be collected and
// the shutdown would wait for a job nobody follows. There is no sound way on: the
// message, then code 0 at once, without the shutdown steps (settings not written).
[[noreturn]] void EndForFailedWatch() {
    ShowMessage(nullptr, "Erk!");
    std::_Exit(0);
}

}  // namespace

JobWatcher::JobWatcher(QMainWindow* mainWindow) : mainWindow_(mainWindow) {
    repaintTimer_.setInterval(kRepaintIntervalMs);
    repaintTimer_.setTimerType(Qt::PreciseTimer);
    connect(&repaintTimer_, &QTimer::timeout, this, &JobWatcher::OnRepaintTick);
    // The first Done run after a quiet spell is saved at once; the ones that
    // follow within the delay wait for its end and share one save.
    saveTimer_.setSingleShot(true);
    saveTimer_.setInterval(kListSaveDelayMs);
    connect(&saveTimer_, &QTimer::timeout, this, [this] {
        if (!JobListSavePending()) return;
        SaveJobListInBackground();  // or, the last one still being written, next time
        saveTimer_.start();
    });
    retryTimer_.setSingleShot(true);
    retryTimer_.setInterval(kStartRetryMs);
    connect(&retryTimer_, &QTimer::timeout, this, &JobWatcher::OnStartRetry);
    // The safety net for runs started where no Sync follows: before the loop
    // sleeps (in nested loops too) every started run gets its watch.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &JobWatcher::Sync);
    }
}

// The notifiers are children of this object and go with it.
JobWatcher::~JobWatcher() { FinishListSaves(); }

void JobWatcher::Sync() {
    for (DownloadJob* job : TakeStartedJobs()) {
        if (job->thread != nullptr) {
            auto found = watches_.find(job);
            // A watch of an earlier run of this job (never the case when every end
            // goes through OnRunEnded) must not outlive that run's descriptors.
            if (found != watches_.end() && found->second.thread != job->thread) Forget(job);
            if (watches_.count(job) == 0 && !StartWatching(job)) EndForFailedWatch();
        }
        RefreshJobRow(mainWindow_, job);
    }
    if (JobListSavePending() && !saveTimer_.isActive()) {
        SaveJobListInBackground();
        saveTimer_.start();
    }
    if (LastStartFailed() && !retryTimer_.isActive()) retryTimer_.start();
}

// A run could not be started and no end of a run came to try again.
void JobWatcher::OnStartRetry() {
    StartJobs();
    Sync();
}

bool JobWatcher::StartWatching(DownloadJob* job) {
    Watch watch;
    watch.thread = job->thread;
    const int endFd = VHandleFd(job->thread);
    if (endFd < 0) return false;
    watch.end = new QSocketNotifier(endFd, QSocketNotifier::Read, this);
    if (!watch.end->isValid()) {
        delete watch.end;
        return false;
    }
    QSocketNotifier* end = watch.end;
    connect(end, &QSocketNotifier::activated, this, [this, job, end] { OnRunEnded(job, end); });
    // A run whose status event could not be made never signals one: its row then
    // changes when the run ends, like the other rows' refresh.
    const int statusFd = VHandleFd(job->statusEvent);
    if (statusFd >= 0) {
        watch.status = new QSocketNotifier(statusFd, QSocketNotifier::Read, this);
        QSocketNotifier* status = watch.status;
        connect(status, &QSocketNotifier::activated, this,
                [this, job, status] { OnStatusSignalled(job, status); });
    }
    watches_[job] = watch;
    return true;
}

// Called by the loop when the run's status event is signalled.
void JobWatcher::OnStatusSignalled(DownloadJob* job, QSocketNotifier* notifier) {
    auto found = watches_.find(job);
    if (found == watches_.end() || found->second.status != notifier) return;  // stale wake
    // Consume the signal, then stop listening until the repaint: the row reads
    // the newest status then, and a change after this point wakes us again.
    VWait(job->statusEvent, 0);
    notifier->setEnabled(false);
    if (!found->second.dirty) {
        found->second.dirty = true;
        ++dirtyCount_;
    }
    if (!repaintTimer_.isActive()) {
        // Nothing was repainted for a whole tick: show this change at once, and
        // coalesce whatever follows into the ticks.
        RepaintDirtyRows();
        repaintTimer_.start();
    }
}

// Called by the repaint timer. The timer keeps ticking while rows keep changing,
// so a change waits one tick at most (no wake-up of ours lies between a change
// and its repaint), and stops at the first tick that has nothing to do.
void JobWatcher::OnRepaintTick() {
    if (dirtyCount_ == 0) {
        repaintTimer_.stop();
        return;
    }
    RepaintDirtyRows();
}

// Called by the loop when the run's thread has ended.
void JobWatcher::OnRunEnded(DownloadJob* job, QSocketNotifier* notifier) {
    auto found = watches_.find(job);
    if (found == watches_.end() || found->second.end != notifier) return;  // stale wake
    // The notifiers must be off before OnJobEnded closes their descriptors.
    Forget(job);
    UpdateJobRowOf(mainWindow_, job);  // the last status before the end
    OnJobEnded(mainWindow_, job);
    Sync();  // OnJobEnded may have started the next runs
}

void JobWatcher::RepaintDirtyRows() {
    // Only the watched runs can be dirty, and each finds its row at once; the
    // rows are renewed and announced in one batch.
    std::vector<DownloadJob*> dirty;
    dirty.reserve(dirtyCount_);
    for (auto& [job, watch] : watches_) {
        if (watch.dirty) dirty.push_back(job);
    }
    UpdateJobRowsOf(mainWindow_, dirty);
    for (DownloadJob* job : dirty) {
        Watch& watch = watches_.at(job);
        watch.dirty = false;
        watch.status->setEnabled(true);
    }
    dirtyCount_ = 0;
}

void JobWatcher::Forget(DownloadJob* job) {
    auto found = watches_.find(job);
    if (found == watches_.end()) return;
    Watch& watch = found->second;
    if (watch.dirty) --dirtyCount_;
    // Disabled now, deleted later: one of them may be the sender being served.
    for (QSocketNotifier* notifier : {watch.status, watch.end}) {
        if (notifier == nullptr) continue;
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    watches_.erase(found);
}
