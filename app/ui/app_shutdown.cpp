#include "app_shutdown.h"

#include <vector>

#include "job_queue.h"

void StopAndWaitForAllRuns() {
    // Every run is told to stop before the first wait, so they all wind down together.
    std::vector<VHANDLE> threads;
    for (DownloadJob* job = jobList; job != nullptr; job = job->next) {
        if (job->thread == nullptr) continue;
        VSetEvent(job->stopEvent);
        threads.push_back(job->thread);
    }
    // Waiting for each in turn is waiting for all: the last wait ends with the last run.
    for (VHANDLE thread : threads) VWait(thread, V_INFINITE);
}

void DestroyAllJobs() {
    while (jobList != nullptr) RemoveJob(jobList);
}
