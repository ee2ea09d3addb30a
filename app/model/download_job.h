// One download of the queue: a transfer object plus what the queue keeps about it.
//
// Threads: the user-interface thread creates, changes and destroys jobs. The
// transfer threads of a run touch only the VBRINDLEX members, never the members
// added here (except `fileName`, which they read as the data receptor during a run).
#pragma once

#include <string>

#include "brindlex/vbrindlex.h"

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
    // resumed; the values are job_control.h's JobPause. Starts 0 and is never
    // written to the list file, so every job runs again after a restart. Whoever
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
