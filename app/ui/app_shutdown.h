// The end of the program once the event loop has ended and the window is gone.
//
// Threads: user-interface thread, after the event loop.
#pragma once

// Asks every run that has not been collected to stop (its stop event) and waits
// for all of them, without a time limit and without a limit on their number. A
// stopped run keeps its partial file, which the next start resumes. When any of
// these runs ended Done, the list file is saved once more so that their records
// leave it; otherwise it is not touched.
void StopAndWaitForAllRuns();

// Destroys every job, head first, until jobList is empty. No run may be in progress.
void DestroyAllJobs();
