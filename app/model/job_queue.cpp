#include "job_queue.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>

#include "main_thread.h"
#include "own_file.h"

namespace {

VHANDLE StartWithGoAsync(DownloadJob* job) { return job->GoAsync(); }

}  // namespace

DownloadJob* jobList = nullptr;
int maxFiles = 1;
int maxTries = 5;
int connectionsPerDownload = kDefaultConnections;
VHANDLE (*startRun)(DownloadJob* job) = StartWithGoAsync;

namespace {

// Lets the name table be searched with the job's own C string, without a copy.
struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const {
        return std::hash<std::string_view>()(name);
    }
};

struct Books {
    DownloadJob* head = nullptr;  // jobList as the queue last saw it
    DownloadJob* tail = nullptr;
    unsigned long long nextOrder = 1;
    // Keyed by `order`: begin() is the first job that may still start.
    std::map<unsigned long long, DownloadJob*> startable;
    // Each run in progress and the file name it was started with (a copy: the
    // name it is registered under, whatever happens to the job's own).
    struct Run {
        bool named = false;
        std::string name;
    };
    std::unordered_map<DownloadJob*, Run> running;
    std::unordered_map<std::string, int, NameHash, std::equal_to<>> names;
    // Every queued job's file name (NameKey), with the number of jobs saved as it.
    std::unordered_map<std::string, int, NameHash, std::equal_to<>> queuedNames;
    std::vector<DownloadJob*> started;
    int seenMaxTries = 5;
    bool startFailed = false;
    // Indexed by Count: how many jobs each holds.
    int counts[4] = {};
};

enum Count : int { kRunningCount, kWaitingCount, kDoneCount, kFailedCount };

Books& B() {
    static Books books;
    return books;
}

// A run is in progress from GoAsync until the main loop has collected its end
// and closed its handles. `status` alone misses both ends of that span: a run
// just started still shows its resting status until the fetch's first change,
// and an ended run shows its final status before it is collected.
bool IsRunning(const DownloadJob* job) {
    return job->thread != nullptr || job->status.load(std::memory_order_relaxed) > STATUS_WAIT;
}

Count CountOf(const DownloadJob* job) {
    if (IsRunning(job)) return kRunningCount;
    const long long status = job->status.load(std::memory_order_relaxed);
    if (status == STATUS_DONE) return kDoneCount;
    if (status == STATUS_FAILED) return kFailedCount;
    return kWaitingCount;
}

// Moves the job to the count its state calls for; a job of the list only.
void Recount(DownloadJob* job) {
    const int now = CountOf(job);
    if (job->countedAs == now) return;
    int* counts = B().counts;
    if (job->countedAs >= 0) --counts[job->countedAs];
    ++counts[now];
    job->countedAs = now;
}

void Uncount(DownloadJob* job) {
    if (job->countedAs >= 0) --B().counts[job->countedAs];
    job->countedAs = -1;
}

// Not running, and StartJobs would start it if a slot and its file were free.
bool MayStart(const DownloadJob* job) {
    if (job->paused || IsRunning(job)) return false;
    const long long status = job->status.load(std::memory_order_relaxed);
    return status == STATUS_WAIT || (status == STATUS_FAILED && job->tries < maxTries);
}

void AddRunning(DownloadJob* job) {
    Books& b = B();
    Books::Run run;
    if (job->fileName != nullptr) {
        run.named = true;
        run.name = job->fileName;
    }
    auto [where, added] = b.running.emplace(job, std::move(run));
    if (added && where->second.named) ++b.names[where->second.name];
    Recount(job);
}

void ReleaseName(const Books::Run& run) {
    if (!run.named) return;
    Books& b = B();
    auto found = b.names.find(run.name);
    if (found != b.names.end() && --found->second <= 0) b.names.erase(found);
}

// A name with its "." and ".." steps folded ("sub/../x" is "x"). A bare name,
// which is what every added job has, is its own key and costs no parsing.
std::string NameKey(std::string_view name) {
    if (name.find('/') == std::string_view::npos && name != "." && name != "..") {
        return std::string(name);
    }
    return std::filesystem::path(name).lexically_normal().string();
}

void CountQueuedName(const DownloadJob* job, int change) {
    if (job->fileName == nullptr) return;
    auto& names = B().queuedNames;
    const std::string key = NameKey(job->fileName);
    if (change > 0) {
        ++names[key];
        return;
    }
    auto found = names.find(key);
    if (found != names.end() && --found->second <= 0) names.erase(found);
}

std::string CurrentFolder() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string();
}

void MarkStartable(DownloadJob* job) {
    if (MayStart(job)) B().startable.emplace(job->order, job);
}

// Gives a job joining the list its place and its first bookkeeping.
void Register(DownloadJob* job) {
    Books& b = B();
    job->order = b.nextOrder++;
    job->prev = b.tail;
    b.tail = job;
    CountQueuedName(job, +1);
    job->countedAs = -1;
    Recount(job);
    if (IsRunning(job)) {
        AddRunning(job);
    } else {
        MarkStartable(job);
    }
}

// Everything recounted from the list: after the head was changed by hand.
void Rebuild() {
    Books& b = B();
    b.head = jobList;
    b.tail = nullptr;
    b.startable.clear();
    b.running.clear();
    b.names.clear();
    b.queuedNames.clear();
    b.started.clear();
    for (int& count : b.counts) count = 0;
    for (DownloadJob* job = jobList; job != nullptr; job = job->next) Register(job);
}

// Takes in jobs linked behind the tail, or recounts after a head changed by
// hand. Costs the new jobs only.
void AdoptLinked() {
    Books& b = B();
    if (jobList != b.head) {
        Rebuild();
    } else if (b.tail != nullptr) {
        while (b.tail->next != nullptr) Register(b.tail->next);
    }
}

// Catches up with everything that changed without a word: linked jobs, closed
// handles, a higher maxTries. Costs the new jobs plus the runs in progress.
void CatchUp() {
    Books& b = B();
    AdoptLinked();
    for (auto it = b.running.begin(); it != b.running.end();) {
        DownloadJob* job = it->first;
        if (IsRunning(job)) {
            ++it;
            continue;
        }
        ReleaseName(it->second);
        it = b.running.erase(it);
        Recount(job);
        MarkStartable(job);
    }
    if (maxTries > b.seenMaxTries) {
        // Failed jobs dropped for good may have tries left now.
        for (DownloadJob* job = jobList; job != nullptr; job = job->next) {
            if (job->status.load(std::memory_order_relaxed) == STATUS_FAILED) MarkStartable(job);
        }
    }
    b.seenMaxTries = maxTries;
}

bool InList(const DownloadJob* job) {
    return job->prev != nullptr ? job->prev->next == job : jobList == job;
}

// Two runs on one file would interleave their bytes, so a job whose file another
// run is writing waits its turn; it is started by the call after that run ends.
bool FileInUse(const DownloadJob* job) {
    return job->fileName != nullptr && B().names.count(std::string_view(job->fileName)) != 0;
}

// Starts the job's run, counting a try for a failed one. True when it started.
bool Launch(DownloadJob* job) {
    const bool restart = job->status.load(std::memory_order_relaxed) == STATUS_FAILED;
    // The first run is not a try; every restart after a failure is.
    if (restart) ++job->tries;
    job->deleteMark = 0;
    std::string moved;
    const FirstRunFile file = MakeFileOwnBeforeFirstRun(job, NameTakenInQueue, &moved);
    if (file == FirstRunFile::kMoved) RenameQueuedJob(job, moved.c_str());
    if (file == FirstRunFile::kNoFreeName) {
        // Another file is at its name and no free one fits: the job fails without
        // a run, its tries used up, rather than write into that file.
        job->result.store(RESULT_FILE_PROBLEM, std::memory_order_relaxed);
        job->status.store(STATUS_FAILED, std::memory_order_relaxed);
        job->tries = std::max(job->tries, maxTries);
        return true;
    }
    job->connections = static_cast<unsigned>(
        std::clamp(connectionsPerDownload, kFewestConnections, kMostConnections));
    if (startRun(job) == nullptr) {
        // No run thread. GoAsync has already ended the run it could not start:
        // the job is Failed (FOpen), which is what its row shows. Its events are
        // released here, so the main loop never watches a run that does not
        // exist, and the try is given back: the job is no worse off than before
        // and stays startable. StartJobs stops at it and says so
        // (LastStartFailed), and the main loop calls StartJobs again on a timer
        // as well as at the next end of a run.
        job->CloseHandles();
        if (restart) --job->tries;
        Recount(job);
        return false;
    }
    AddRunning(job);
    B().started.push_back(job);
    return true;
}

}  // namespace

void AppendJob(DownloadJob* job) {
    VANTOREL_ASSERT_UI_THREAD();
    AdoptLinked();
    Books& b = B();
    job->next = nullptr;
    if (b.tail != nullptr) {
        b.tail->next = job;
    } else {
        jobList = job;
        b.head = job;
    }
    Register(job);
}

void RemoveJob(DownloadJob* job) {
    VANTOREL_ASSERT_UI_THREAD();
    AdoptLinked();
    if (!InList(job)) return;
    Books& b = B();
    if (job->prev != nullptr) {
        job->prev->next = job->next;
    } else {
        jobList = job->next;
        b.head = jobList;
    }
    if (job->next != nullptr) {
        job->next->prev = job->prev;
    } else {
        b.tail = job->prev;
    }
    auto entry = b.startable.find(job->order);
    if (entry != b.startable.end() && entry->second == job) b.startable.erase(entry);
    auto run = b.running.find(job);
    if (run != b.running.end()) {
        ReleaseName(run->second);
        b.running.erase(run);
    }
    b.started.erase(std::remove(b.started.begin(), b.started.end(), job), b.started.end());
    CountQueuedName(job, -1);
    // A job the user deleted before it wrote a byte leaves no empty file behind
    // (only its own reservation, provably; the shutdown deletes nothing).
    if (job->deleteMark != 0) DropOwnReservation(job);
    Uncount(job);
    delete job;
}

void StartJobs() {
    VANTOREL_ASSERT_UI_THREAD();
    CatchUp();
    Books& b = B();
    b.startFailed = false;
    int running = static_cast<int>(b.running.size());
    for (auto it = b.startable.begin(); it != b.startable.end() && running < maxFiles;) {
        DownloadJob* job = it->second;
        if (IsRunning(job)) {
            // A run the queue was not told about: count it from now on.
            AddRunning(job);
            ++running;
            it = b.startable.erase(it);
        } else if (!MayStart(job)) {
            it = b.startable.erase(it);  // Done, tries used up, or paused
        } else if (FileInUse(job)) {
            ++it;  // stays first in line for when that file is free
        } else if (Launch(job)) {
            ++running;
            it = b.startable.erase(it);
        } else {
            // A thread could not be made: later jobs would fare no better, and
            // trying them would reorder the queue.
            b.startFailed = true;
            break;
        }
    }
}

bool StartJobNow(DownloadJob* job) {
    VANTOREL_ASSERT_UI_THREAD();
    CatchUp();
    if (!InList(job) || !MayStart(job)) return false;
    if (!Launch(job)) return false;
    auto entry = B().startable.find(job->order);
    if (entry != B().startable.end()) B().startable.erase(entry);
    return true;
}

void CollectRun(DownloadJob* job) {
    CatchUp();
    job->CloseHandles();
    Books& b = B();
    auto run = b.running.find(job);
    if (run != b.running.end()) {
        ReleaseName(run->second);
        b.running.erase(run);
    }
    if (InList(job)) {
        Recount(job);
        MarkStartable(job);
    }
}

void JobBecameStartable(DownloadJob* job) {
    CatchUp();
    if (InList(job)) {
        Recount(job);
        MarkStartable(job);
    }
}

void JobStatusSet(DownloadJob* job) {
    CatchUp();
    if (InList(job)) Recount(job);
}

JobCountsNow JobCounts() {
    CatchUp();
    const int* counts = B().counts;
    return {counts[kRunningCount], counts[kWaitingCount], counts[kDoneCount], counts[kFailedCount]};
}

void JobStoppedBeingStartable(DownloadJob* job) {
    auto entry = B().startable.find(job->order);
    if (entry != B().startable.end() && entry->second == job && !MayStart(job)) {
        B().startable.erase(entry);
    }
}

int RenameQueuedJob(DownloadJob* job, const char* name) {
    AdoptLinked();
    const bool queued = InList(job);
    if (queued) CountQueuedName(job, -1);
    const int copied = SetJobFileName(job, name);
    if (queued) CountQueuedName(job, +1);
    return copied;
}

bool NameTakenInQueue(std::string_view name) {
    AdoptLinked();
    const auto& names = B().queuedNames;
    if (name.empty()) return false;
    if (names.count(std::string_view(NameKey(name))) != 0) return true;
    // The same file written the other way: relative to the save folder, or absolute.
    const std::filesystem::path folder = CurrentFolder();
    if (folder.empty()) return false;
    const std::filesystem::path path(name);
    std::string other;
    if (path.is_absolute()) {
        const std::filesystem::path inside = path.lexically_normal().lexically_relative(folder);
        if (inside.empty() || *inside.begin() == "..") return false;
        other = inside.string();
    } else {
        other = (folder / path).lexically_normal().string();
    }
    return names.count(std::string_view(NameKey(other))) != 0;
}

int LimitedSetting(int value, int most) { return std::clamp(value, 0, most); }

int RunningJobCount() {
    CatchUp();
    return static_cast<int>(B().running.size());
}

bool FileBeingWritten(const char* name) {
    CatchUp();
    return name != nullptr && B().names.count(std::string_view(name)) != 0;
}

DownloadJob* FirstStartableJob() {
    CatchUp();
    Books& b = B();
    while (!b.startable.empty()) {
        DownloadJob* job = b.startable.begin()->second;
        if (MayStart(job)) return job;
        if (IsRunning(job)) AddRunning(job);
        b.startable.erase(b.startable.begin());
    }
    return nullptr;
}

std::vector<DownloadJob*> TakeStartedJobs() {
    std::vector<DownloadJob*> started;
    started.swap(B().started);
    return started;
}

bool LastStartFailed() { return B().startFailed; }

int RemoveDoneJobs() {
    VANTOREL_ASSERT_UI_THREAD();
    CatchUp();
    int removed = 0;
    for (DownloadJob* job = jobList; job != nullptr;) {
        DownloadJob* next = job->next;  // RemoveJob destroys the job
        if (job->thread == nullptr && job->status.load(std::memory_order_relaxed) == STATUS_DONE) {
            RemoveJob(job);
            ++removed;
        }
        job = next;
    }
    return removed;
}

DownloadJob* LastJob() {
    AdoptLinked();
    return B().tail;
}
