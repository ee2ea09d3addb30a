// One download of the queue: a transfer object plus what the queue keeps about it.
//
// Threads: the user-interface thread creates, changes and destroys jobs. The
// transfer threads of a run touch only the VBRINDLEX members, never the members
// added here (except `fileName`, which they read as the data receptor during a run).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "brindlex/vbrindlex.h"

// What a download caught from a browser came with beyond its URL and file name
// (caught_fields.h): the page it was started from, the browser's User-Agent and
// the cookies the browser would have sent (Netscape cookie-file lines).
struct CaughtFields {
    std::string referer;
    std::string agent;
    std::vector<std::string> cookies;
};

// The values of DownloadJob::paused.
enum JobPause : int {
    kNotPaused = 0,
    kPaused = 1,
    // Resumed while the pause's stop was still winding down: the run's end is not
    // a failure, and the job is startable again once it has been collected.
    kResumeWhenStopped = 2,
};

class DownloadJob : public VBRINDLEX {
public:
    // Owned heap string or null; also the data receptor of every run, so it must
    // not change while a run is in progress.
    char* fileName;
    // Restarts after failures, plus 20 each time the LastError text of a job
    // answered with 404 is produced.
    int tries;
    // Nonzero: remove the job as soon as its run has ended.
    int deleteMark;
    // Next job of jobList; null at the tail.
    DownloadJob* next;
    // Previous job of jobList; null at the head. Kept by the queue (job_queue.h),
    // so a job leaves the list without a walk from the head.
    DownloadJob* prev;
    // The job's place in list order, given by the queue when the job joins it:
    // a later job has a larger number. Never written to the list file.
    unsigned long long order;
    // Nonzero: held back by the user, passed over by the scheduler until it is
    // resumed; the values are JobPause below. Starts 0 and is never
    // written to the list file: the pause file keeps it (pause_file.h). Whoever
    // changes it tells the queue (JobBecameStartable / JobStoppedBeingStartable).
    int paused;
    // The empty file made for the job when it was added in this session, which
    // reserved its name (own_file.h): its full path, device and inode, valid when
    // `nameReserved`. Never written to the list file.
    bool nameReserved;
    std::string reservedPath;
    unsigned long long reservedDevice;
    unsigned long long reservedInode;
    // True from the add until the job's first run has made sure the file at its
    // name is its own.
    bool ownFileUnchecked;
    // Which of the queue's counts (JobCounts in job_queue.h) holds the job; -1
    // while it holds none. Kept by the queue alone.
    int countedAs;
    // The fields the job was caught from a browser with, or null. They hold the
    // text its `agent` may point at, and go with the job: a job made later at
    // the same address never finds them. Set by AttachCaughtFields.
    std::unique_ptr<CaughtFields> caught;

    DownloadJob();
    // Releases `fileName`, then the transfer object's strings and handles. The run
    // must have ended: the transfer threads hold the object and its file name.
    ~DownloadJob() override;
};

// Replaces the job's file name with a heap copy of `name` and makes it the data
// receptor. Returns 1, or 0 when there is no copy (allocation failed, or `name` is
// null): the job then has neither a file name nor a data receptor, and its runs
// end with RESULT_FILE_PROBLEM. User-interface thread, never during a run.
int SetJobFileName(DownloadJob* job, const char* name);
