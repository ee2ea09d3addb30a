#include "app_shutdown.h"

#include <vector>

#include "job_queue.h"
#include "list_file.h"
#include "list_save.h"

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
    // A run can still end Done here: its last block came before the stop, or it
    // ended Done while the loop was quitting and was never collected. Its record
    // must leave the list file as a collection would have made it; kept, the next
    // start would ask for bytes past the end of a complete file and show the job
    // Failed for good. The runs stopped half-way keep the file as it is.
    for (DownloadJob* job = jobList; job != nullptr; job = job->next) {
        if (job->thread != nullptr && job->status.load() == STATUS_DONE) {
            SaveJobList();
            return;
        }
    }
}

void DestroyAllJobs() {
    while (jobList != nullptr) RemoveJob(jobList);
}
