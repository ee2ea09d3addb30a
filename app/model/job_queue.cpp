#include "job_queue.h"

#include <cstring>

DownloadJob* jobList = nullptr;
int maxFiles = 1;
int maxTries = 5;

void AppendJob(DownloadJob* job) {
    job->next = nullptr;
    DownloadJob** link = &jobList;
    while (*link != nullptr) {
        link = &(*link)->next;
    }
    *link = job;
}

void RemoveJob(DownloadJob* job) {
    for (DownloadJob** link = &jobList; *link != nullptr; link = &(*link)->next) {
        if (*link == job) {
            *link = job->next;
            delete job;
            return;
        }
    }
}

namespace {

// A run is in progress from GoAsync until the main loop has collected its end
// and closed its handles. `status` alone misses both ends of that span: a run
// just started still shows its resting status until the fetch's first change,
// and an ended run shows its final status before it is collected.
bool IsRunning(const DownloadJob* job) {
    return job->thread != nullptr || job->status.load(std::memory_order_relaxed) > STATUS_WAIT;
}

// Two runs on one file would interleave their bytes, so a job whose file another
// run is writing waits its turn; it is started by the call after that run ends.
bool FileInUse(const DownloadJob* job) {
    if (job->fileName == nullptr) return false;
    for (const DownloadJob* other = jobList; other != nullptr; other = other->next) {
        if (other != job && IsRunning(other) && other->fileName != nullptr &&
            std::strcmp(other->fileName, job->fileName) == 0) {
            return true;
        }
    }
    return false;
}

// Returns true when the run was started.
bool Start(DownloadJob* job) {
    job->deleteMark = 0;
    if (job->GoAsync() != nullptr) {
        return true;
    }
    // No thread: release the events GoAsync may have made, so the main loop never
    // watches a run that does not exist. The job stays as it was and a later call
    // tries it again.
    job->CloseHandles();
    return false;
}

}  // namespace

void StartJobs() {
    int running = 0;
    for (DownloadJob* job = jobList; job != nullptr && running < maxFiles; job = job->next) {
        if (IsRunning(job)) {
            ++running;
        }
    }
    for (DownloadJob* job = jobList; job != nullptr && running < maxFiles; job = job->next) {
        if (IsRunning(job) || FileInUse(job) || job->paused != 0) {
            continue;
        }
        const long long status = job->status.load(std::memory_order_relaxed);
        if (status == STATUS_WAIT) {
            if (Start(job)) {
                ++running;
            }
        } else if (status == STATUS_FAILED && job->tries < maxTries) {
            // The first run is not a try; every restart after a failure is.
            ++job->tries;
            if (Start(job)) {
                ++running;
            } else {
                --job->tries;
            }
        }
    }
}
