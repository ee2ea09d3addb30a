// The queue of downloads and the scheduler that starts their runs.
//
// Threads: everything here belongs to the user-interface thread. The scheduler
// reads `status` and `thread`, which the transfer threads change, but it starts
// and collects runs only on this thread.
//
// Bookkeeping. A queue of tens of thousands of jobs sees one run end after
// another, so nothing on that path walks the list. The queue keeps, as jobs
// change:
//   - the runs in progress (started and not yet collected) and how many they are;
//   - the file names those runs are writing, each with its number of runs;
//   - the jobs that may still start, ordered by their place in the list, so the
//     first of them is found at once and Done jobs are never looked at again;
//   - how many jobs run, wait, are Done and Failed (the status bar's counts):
//     each job records which count holds it, and every entry point that may
//     change a job's state moves it, in constant time.
// The last is a superset: a job that stopped being startable without a word to
// the queue (its `tries` used up by the 404 rule, a status set by hand) is
// dropped when the scheduler reaches it. So the work per event grows with the
// number of runs and with the logarithm of the list, not with the list. Two
// exceptions, both rare: raising maxTries walks the list once (failed jobs may
// start again), and a job waiting for a file another run is writing is looked
// at by every call until that run ends.
//
// Callers keep it right through the entry points below. The queue also catches
// up by itself with what it can see cheaply: jobs linked behind the tail
// (LoadJobListFrom), a head relinked by hand (a full recount), runs whose handles
// were closed without CollectRun, and maxTries raised since the last call.
#pragma once

#include <string_view>
#include <vector>

#include "download_job.h"

// The queue, in the order the jobs were added (which is also the order of the
// rows and of the list file's records). Owns the jobs; null when empty.
extern DownloadJob* jobList;
// How many runs may be in progress at once; 0 starts nothing.
extern int maxFiles;
// How many restarts a failing job gets.
extern int maxTries;
// How many connections each run may open for its one file ("Connections").
// Every run takes the value as it stands when it starts; runs in progress keep
// theirs.
extern int connectionsPerDownload;

// The largest values the two limits take. More runs at once than this only
// share the same line thinner; more tries than this is retrying for ever.
inline constexpr int kMostFiles = 100;
inline constexpr int kMostTries = 1000;
// `value` brought into 0..most: a setting from a hand-edited or older settings
// file (a negative one meant "none" and still does).
int LimitedSetting(int value, int most);
// The range of connectionsPerDownload and its default: a server never gets more
// than kMostConnections from one download, whatever the setting holds.
inline constexpr int kFewestConnections = 1;
inline constexpr int kMostConnections = 16;
inline constexpr int kDefaultConnections = 4;

// How the scheduler starts a run: GoAsync by default. A replacement returns the
// run's thread handle (also stored in `thread`), or null with the job left
// Failed, as GoAsync does when it cannot make a thread. Tests put fakes here.
extern VHANDLE (*startRun)(DownloadJob* job);

// Links the job at the tail of jobList. Constant time.
void AppendJob(DownloadJob* job);

// Unlinks the job and destroys it. Its run must have been collected (null
// `thread`). A job that is not in jobList is left alone. Constant time, apart
// from the jobs started and not yet taken by TakeStartedJobs.
void RemoveJob(DownloadJob* job);

// Starts runs in list order while fewer than maxFiles are in progress: waiting
// jobs, and failed jobs whose `tries` is below maxTries (which counts a try).
// Paused jobs and jobs whose file another run is writing are passed over. When
// a run cannot be started the call stops there (LastStartFailed).
void StartJobs();

// Starts the job's run now, outside list order and maxFiles, counting a try for
// a failed job like StartJobs. False when it is running, paused, Done, or its
// run could not be started.
bool StartJobNow(DownloadJob* job);

// Removes every Done job whose run has been collected (Clear finished): their
// files stay. Returns how many went. Walks the list once.
int RemoveDoneJobs();

// The job at the tail of jobList (the one added last), or null. Constant time.
DownloadJob* LastJob();

// --- Entry points: tell the queue what changed -------------------------------

// The run of `job` has ended (its `thread` is signalled): closes its handles
// and updates the bookkeeping. The main loop collects every run through here.
void CollectRun(DownloadJob* job);

// `job` may start again: resumed after a pause, its `tries` lowered, its status
// set back to waiting. Harmless when it still may not start.
void JobBecameStartable(DownloadJob* job);

// `job` may not start for now (paused). Optional, since the scheduler also drops
// such a job when it meets it, but it keeps the first startable job exact.
void JobStoppedBeingStartable(DownloadJob* job);

// Gives the queued `job`, which is not running, the file name `name`, keeping
// the queue's table of names right (NameTakenInQueue). Returns SetJobFileName's value.
int RenameQueuedJob(DownloadJob* job, const char* name);

// A job's status was set by hand while no run of it is in progress (a stopped
// run settled as waiting): its count moves. Harmless when nothing changed.
void JobStatusSet(DownloadJob* job);

// --- What the bookkeeping holds (the user-interface and tests read it) -------

// How many jobs of the list are running (their run started and not yet
// collected), waiting (any other job that is neither Done nor Failed, paused
// ones included), Done and Failed. Kept as jobs change, never counted by a walk.
struct JobCountsNow {
    int running = 0;
    int waiting = 0;
    int done = 0;
    int failed = 0;
};
JobCountsNow JobCounts();

// Runs started and not yet collected.
int RunningJobCount();
// True while a run in progress writes the file `name`.
bool FileBeingWritten(const char* name);
// True when a job of the queue is saved as `name`: the same name with its "."
// and ".." steps folded, or the same file once a relative name is taken from the
// current folder (the save folder) and an absolute one is not. Symbolic links
// are not followed. Constant time: the queue keeps a table of its names.
bool NameTakenInQueue(std::string_view name);
// The first job in list order that is not running and may start (waiting,
// failed with tries left, not paused), or null. Amortised O(log n).
DownloadJob* FirstStartableJob();
// The jobs started since the last call, in the order they were started; the
// main loop watches their runs and shows their rows.
std::vector<DownloadJob*> TakeStartedJobs();
// True when the last StartJobs could not start a run (GoAsync made no thread):
// that job is Failed and nothing ends to start it again, so the caller must
// call StartJobs again a little later.
bool LastStartFailed();
