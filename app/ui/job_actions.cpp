#include "job_actions.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QInputDialog>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QSet>
#include <QStringList>
#include <QUrl>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <unordered_map>
#include <unordered_set>

#include "job_control.h"
#include "job_queue.h"
#include "job_view.h"

namespace {

const QKeySequence kPauseKeys(Qt::CTRL | Qt::Key_P);
const QKeySequence kResumeKeys(Qt::CTRL | Qt::Key_R);

template <typename Test>
bool AnyJob(const std::vector<DownloadJob*>& jobs, Test applies) {
    for (DownloadJob* job : jobs) {
        if (applies(job)) return true;
    }
    return false;
}

bool IsDone(const DownloadJob* job) {
    return job->status.load(std::memory_order_relaxed) == STATUS_DONE;
}

}  // namespace

QString JobFilePath(const DownloadJob* job) {
    const QString name = job->fileName != nullptr ? QFile::decodeName(job->fileName) : QString();
    return QDir::cleanPath(QDir::current().absoluteFilePath(name));
}

JobActions::JobActions(QMainWindow* window) : QObject(window), window_(window) {
    pauseAction_ = new QAction(QStringLiteral("Pause"), window);
    pauseAction_->setShortcut(kPauseKeys);
    connect(pauseAction_, &QAction::triggered, this, [this] { Pause(SelectedJobs()); });
    resumeAction_ = new QAction(QStringLiteral("Resume"), window);
    resumeAction_->setShortcut(kResumeKeys);
    connect(resumeAction_, &QAction::triggered, this, [this] { Resume(SelectedJobs()); });
    // Not in any menu bar: the window's own actions, so the keys work wherever
    // the focus is in it.
    window->addAction(pauseAction_);
    window->addAction(resumeAction_);
}

std::vector<DownloadJob*> JobActions::SelectedJobs() const { return ::SelectedJobs(window_); }

void JobActions::AddEntries(QMenu& menu, std::vector<DownloadJob*> jobs) {
    menu.addSeparator();
    auto add = [&menu](const QString& text, bool enabled) {
        QAction* action = menu.addAction(text);
        action->setEnabled(enabled);
        return action;
    };
    entries_.pause = add(QStringLiteral("Pause"), AnyJob(jobs, CanPauseJob));
    entries_.resume = add(QStringLiteral("Resume"), AnyJob(jobs, CanResumeJob));
    // Shown, not bound: the window's own actions take the keys.
    for (auto [entry, keys] :
         {std::pair{entries_.pause, kPauseKeys}, {entries_.resume, kResumeKeys}}) {
        entry->setShortcut(keys);
        entry->setShortcutContext(Qt::WidgetShortcut);
        entry->setShortcutVisibleInContextMenu(true);
    }
    entries_.retry = add(QStringLiteral("Retry now"), AnyJob(jobs, CanRetryJobNow));
    entries_.speedLimit = add(QStringLiteral("Speed limit\u2026"), !jobs.empty());
    menu.addSeparator();
    entries_.openFile = add(QStringLiteral("Open file"), AnyJob(jobs, IsDone));
    entries_.openFolder = add(QStringLiteral("Open folder"), !jobs.empty());
    entries_.copyUrl = add(QStringLiteral("Copy URL"), !jobs.empty());
    menuJobs_ = JobRefs(jobs);
}

bool JobActions::Run(QAction* chosen) {
    const Entries entries = entries_;
    entries_ = Entries();
    // Runs may have been collected, and jobs deleted, while the popup was open.
    const std::vector<DownloadJob*> jobs = StillQueued(menuJobs_);
    menuJobs_.clear();
    if (chosen == nullptr) return false;
    if (chosen == entries.pause) {
        Pause(jobs);
    } else if (chosen == entries.resume) {
        Resume(jobs);
    } else if (chosen == entries.retry) {
        RetryNow(jobs);
    } else if (chosen == entries.speedLimit) {
        AskSpeedLimit(jobs);
    } else if (chosen == entries.openFile) {
        OpenFile(jobs);
    } else if (chosen == entries.openFolder) {
        OpenFolder(jobs);
    } else if (chosen == entries.copyUrl) {
        CopyUrl(jobs);
    } else {
        return false;
    }
    return true;
}

void JobActions::Pause(const std::vector<DownloadJob*>& jobs) {
    bool any = false;
    for (DownloadJob* job : jobs) any = PauseJob(job) || any;
    // A stopped run is collected, and the next job started, when its end comes.
    if (any) RefreshJobView(window_);
}

void JobActions::Resume(const std::vector<DownloadJob*>& jobs) {
    bool any = false;
    for (DownloadJob* job : jobs) any = ResumeJob(job) || any;
    if (any) AfterQueueChange();
}

void JobActions::RetryNow(const std::vector<DownloadJob*>& jobs) {
    bool any = false;
    for (DownloadJob* job : jobs) any = RetryJobNow(job) || any;
    if (any) AfterQueueChange();
}

void JobActions::AskSpeedLimit(const std::vector<DownloadJob*>& jobs) {
    if (jobs.empty()) return;
    // Known by identity: a job deleted while the question is open, and another
    // made at its address, must not take the limit.
    const std::vector<JobRef> asked = JobRefs(jobs);
    const auto current = jobs.front()->speedLimit.load(std::memory_order_relaxed) / 1024;
    bool ok = false;
    const int kib = QInputDialog::getInt(
        window_, QStringLiteral("Speed limit"),
        QStringLiteral("Max download speed of this download, KiB/s (0 = no limit):"),
        static_cast<int>(std::min<std::uint64_t>(current, INT_MAX)), 0, INT_MAX, 1, &ok);
    // The jobs may have left the queue while the question was open.
    if (ok) SetSpeedLimit(StillQueued(asked), kib);
}

void JobActions::SetSpeedLimit(const std::vector<DownloadJob*>& jobs, int kibPerSecond) {
    const std::uint64_t limit =
        static_cast<std::uint64_t>(kibPerSecond < 0 ? 0 : kibPerSecond) * 1024;
    for (DownloadJob* job : jobs) job->speedLimit.store(limit, std::memory_order_relaxed);
}

void JobActions::OpenFile(const std::vector<DownloadJob*>& jobs) {
    for (DownloadJob* job : jobs) {
        if (!IsDone(job)) continue;
        const QString path = JobFilePath(job);
        // No program for the file, or none at all: say so, never nothing.
        if (!openUrl || !openUrl(QUrl::fromLocalFile(path))) {
            emit message(
                QStringLiteral("Could not open %1: no program is set up to open it").arg(path));
        }
    }
}

void JobActions::OpenFolder(const std::vector<DownloadJob*>& jobs) {
    QSet<QString> opened;  // several files in one folder open it once
    for (DownloadJob* job : jobs) {
        const QString folder = QFileInfo(JobFilePath(job)).absolutePath();
        if (opened.contains(folder)) continue;
        opened.insert(folder);
        if (!openUrl || !openUrl(QUrl::fromLocalFile(folder))) {
            emit message(
                QStringLiteral("Could not open the folder %1: no program is set up to open it")
                    .arg(folder));
        }
    }
}

void JobActions::CopyUrl(const std::vector<DownloadJob*>& jobs) {
    if (jobs.empty()) return;
    QStringList urls;
    for (DownloadJob* job : jobs) urls << QString::fromUtf8(job->url != nullptr ? job->url : "");
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        clipboard->setText(urls.join(QLatin1Char('\n')));
    }
}

void JobActions::AfterQueueChange() {
    StartJobs();
    emit runsStarted();
    RefreshJobView(window_);
}

std::vector<JobRef> JobRefs(const std::vector<DownloadJob*>& jobs) {
    std::vector<JobRef> refs;
    refs.reserve(jobs.size());
    for (DownloadJob* job : jobs) refs.push_back({job, job->order});
    return refs;
}

std::vector<DownloadJob*> StillQueued(const std::vector<JobRef>& jobs) {
    // Only the queue's jobs are ever read: a remembered address may be freed.
    std::unordered_map<const DownloadJob*, unsigned long long> queued;
    for (const DownloadJob* job = jobList; job != nullptr; job = job->next) {
        queued.emplace(job, job->order);
    }
    std::vector<DownloadJob*> kept;
    for (const JobRef& ref : jobs) {
        auto found = queued.find(ref.job);
        if (found != queued.end() && found->second == ref.order) kept.push_back(ref.job);
    }
    return kept;
}
