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
    // Without a ready set no run can be watched: the first start then fails.
    if (readySet_.Valid()) {
        readyNotifier_ = new QSocketNotifier(readySet_.Fd(), QSocketNotifier::Read, this);
        connect(readyNotifier_, &QSocketNotifier::activated, this, &JobWatcher::OnReady);
    }
    repaintTimer_.setInterval(kRepaintIntervalMs);
    repaintTimer_.setTimerType(Qt::PreciseTimer);
    connect(&repaintTimer_, &QTimer::timeout, this, &JobWatcher::OnRepaintTick);
    // The first Done run after a quiet spell is saved at once; the ones that
    // follow within the delay wait for its end and share one save.
    saveTimer_.setSingleShot(true);
    saveTimer_.setInterval(kListSaveDelayMs);
    connect(&saveTimer_, &QTimer::timeout, this, [this] {
        if (!JobListSavePending()) return;
        SaveJobListInBackground();
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

JobWatcher::~JobWatcher() {
    // Before the ready set closes the descriptor it watches.
    delete readyNotifier_;
    FinishListSaves();
}

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
    // With no run left, no burst of ends follows to share the save: the queue's
    // final state is written at once rather than up to a delay later.
    if (JobListSavePending() && (!saveTimer_.isActive() || watches_.empty())) {
        SaveJobListInBackground();
        if (!saveTimer_.isActive()) saveTimer_.start();
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
    watch.serial = ++lastSerial_;
    watch.endFd = VHandleFd(job->thread);
    if (watch.endFd < 0 || !readySet_.Add(watch.endFd, EndKey(watch.serial))) return false;
    // A run whose status event could not be made never signals one: its row then
    // changes when the run ends, like the other rows' refresh.
    const int statusFd = VHandleFd(job->statusEvent);
    if (statusFd >= 0) {
        if (!readySet_.Add(statusFd, StatusKey(watch.serial))) {
            readySet_.Remove(watch.endFd);
            return false;
        }
        watch.statusFd = statusFd;
    }
    bySerial_[watch.serial] = job;
    watches_[job] = watch;
    return true;
}

void JobWatcher::OnReady() {
    // A batch per turn of the loop: what is still ready keeps the descriptor
    // readable for the next turn, so input and painting are served in between.
    constexpr std::size_t kBatch = 32;
    std::uint64_t keys[kBatch];
    const std::size_t count = readySet_.TakeReady(keys, kBatch);
    for (std::size_t i = 0; i < count; ++i) {
        // A watch forgotten since (its run collected by an earlier report) is
        // stale; its descriptors are out of the set already.
        const auto found = bySerial_.find(keys[i] >> 1);
        if (found == bySerial_.end()) continue;
        if (keys[i] & 1) {
            OnStatusSignalled(found->second);
        } else {
            OnRunEnded(found->second);
        }
    }
}

// Called by the loop when the run's status event is signalled.
void JobWatcher::OnStatusSignalled(DownloadJob* job) {
    Watch& watch = watches_.at(job);
    // Consume the signal and leave it disarmed until the repaint: the row reads
    // the newest status then, and a change after this point wakes us again.
    VWait(job->statusEvent, 0);
    if (!watch.dirty) {
        watch.dirty = true;
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
void JobWatcher::OnRunEnded(DownloadJob* job) {
    // Out of the ready set before OnJobEnded closes the descriptors. The row shows
    // the end once, after it: OnJobEnded refreshes it, or removes it, or the job
    // starts again and Sync refreshes it with the other started ones.
    Forget(job);
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
        readySet_.Rearm(watch.statusFd, StatusKey(watch.serial));
    }
    dirtyCount_ = 0;
}

void JobWatcher::Forget(DownloadJob* job) {
    auto found = watches_.find(job);
    if (found == watches_.end()) return;
    Watch& watch = found->second;
    if (watch.dirty) --dirtyCount_;
    for (int fd : {watch.statusFd, watch.endFd}) {
        if (fd >= 0) readySet_.Remove(fd);
    }
    bySerial_.erase(watch.serial);
    watches_.erase(found);
}
