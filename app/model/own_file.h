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
// folder, the current one). A candidate is free when no queued job uses it and
// creating it with O_EXCL succeeds; when it cannot be created for another reason
// (a folder the user may not write) and nothing is there, it is taken unreserved,
// and the job's first run fails on the folder as it would have. False when the
// next free name is longer than kLongestFileName.
bool ClaimFreeName(std::string_view name, ClaimedName* claimed);

// Gives the job, not yet queued, the claimed name, to be checked at its first run.
void GiveClaimedName(DownloadJob* job, const ClaimedName& claimed);

// Called before each run starts: the first run of a job added in this session
// makes sure the file at its name is its reservation, or reserves the name anew
// when nothing is there, or moves the job to the next free name (and asks for a
// list save) when another file is there. False when no free name fits: the job
// must not run. A job read from the list file is left as it is.
bool MakeFileOwnBeforeFirstRun(DownloadJob* job);

// Removes the job's reservation when it is provably still that: the same device
// and inode, a regular file, empty, and the job is not Done (an empty download
// is a file the user asked for). For a job the user deletes, and for one that
// leaves a reservation behind in an earlier save folder.
void DropOwnReservation(DownloadJob* job);
