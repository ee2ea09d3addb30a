// The queue of downloads and the scheduler that starts their runs.
//
// Threads: everything here belongs to the user-interface thread. The scheduler
// reads `status` and `thread`, which the transfer threads change, but it starts
// and collects runs only on this thread.
#pragma once

#include "download_job.h"

// The queue, in the order the jobs were added (which is also the order of the
// rows and of the list file's records). Owns the jobs; null when empty.
extern DownloadJob* jobList;
// How many runs may be in progress at once; 0 starts nothing.
extern int maxFiles;
// How many restarts a failing job gets.
extern int maxTries;

// Links the job at the tail of jobList.
void AppendJob(DownloadJob* job);

// Unlinks the job and destroys it. Its run must have been collected (null
// `thread`). A job that is not in jobList is left alone.
void RemoveJob(DownloadJob* job);

// Starts runs in list order while fewer than maxFiles are in progress: waiting
// jobs, and failed jobs whose `tries` is below maxTries (which counts a try).
void StartJobs();
