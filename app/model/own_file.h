// A download writes only into its own file.
//
// A job added in this session gets a name that no file in the save folder and no
// other queued job has: the first of "name", "name (1)", "name (2)" ... that is
// free. It reserves that name by creating the file empty, with O_EXCL, so nothing
// can take it in between; the file, known by its device and inode, is the job's
// own from then on, and after a restart too: a job read from the list file takes
// the file at its name as its own, as it always has (that is what the list file
// is for), and finds its reservation there.
//
// The save folder may change before the job's first run, or the reservation may
// have been removed: the first run of this session checks again, and a file that
// is not the reservation makes the job move on to the next free name instead of
// writing into a stranger's file.
//
// Threads: user-interface thread only.
#pragma once

#include <string>
#include <string_view>

#include "download_job.h"

// Whether a queued job is saved as `name`: the queue's NameTakenInQueue
// (job_queue.h), handed in by the caller, since the queue itself asks this file
// before every run.
using NameInQueue = bool (*)(std::string_view name);

// A free name found by ClaimFreeName, and whether it is reserved (with its file's
// device and inode) or only was free when looked at.
struct ClaimedName {
    std::string name;
    bool reserved = false;
    std::string path;  // the reserved file's full path
    unsigned long long device = 0;
    unsigned long long inode = 0;
};

// Finds and reserves the first free name from `name` (relative to the save
// folder, the current one). A candidate is free when `taken` says no queued job
// uses it and
// creating it with O_EXCL succeeds; when it cannot be created for another reason
// (a folder the user may not write) and nothing is there, it is taken unreserved,
// and the job's first run fails on the folder as it would have. False when the
// next free name is longer than kLongestFileName.
bool ClaimFreeName(std::string_view name, NameInQueue taken, ClaimedName* claimed);

// Gives the job, not yet queued, the claimed name, to be checked at its first run.
void GiveClaimedName(DownloadJob* job, const ClaimedName& claimed);

// What MakeFileOwnBeforeFirstRun found.
enum class FirstRunFile : int {
    kOwn,         // the run may start with the job's name as it is
    kMoved,       // the run may start once the job is renamed to the name given
    kNoFreeName,  // no free name fits: the job must not run
};

// Called before each run starts: the first run of a job added in this session
// makes sure the file at its name is its reservation, or reserves the name anew
// when nothing is there, or claims the next free name when another file is there
// (kMoved, with that name in `moved`: the caller renames the queued job; a list
// save is asked for). A job read from the list file is left as it is.
FirstRunFile MakeFileOwnBeforeFirstRun(DownloadJob* job, NameInQueue taken, std::string* moved);

// Removes the job's reservation when it is provably still that: the same device
// and inode, a regular file, empty, and the job is not Done (an empty download
// is a file the user asked for). For a job the user deletes, and for one that
// leaves a reservation behind in an earlier save folder.
void DropOwnReservation(DownloadJob* job);
