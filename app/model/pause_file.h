// The pause file: which downloads of the queue are paused, kept across restarts.
//
// The list file keeps its format, so the pauses live in a file of their own,
// "paused.dat" beside it: one record per paused job, written like the list
// file's record of that job (URL and file name, each in double quotes). A job is
// known by both: the queue may hold one URL twice under two names. Jobs alike
// in both are one download twice over (they write one file); a record written
// twice pauses two of them, the first in list order. At start-up the
// records find their jobs; a record whose job is no longer queued is dropped at
// the next write.
//
// The file is written with the list file's saves (list_file.h, list_save.h), and
// only when what it would hold has changed; a pause or a resume asks for such a
// save. Threads: user-interface thread only, apart from the list save's writer.
#pragma once

#include <cstdio>
#include <string>

inline constexpr char kPauseFileName[] = "paused.dat";

// Full path of the pause file; set at start-up.
extern std::string pausePath;

// The records of the paused jobs (`paused` is kPaused), in list order; jobs
// marked for deletion and Done jobs are left out, as in the list file.
std::string PausedJobBytes();

// PausedJobBytes when it differs from what was last written or handed out by
// this call (true, `bytes` set), otherwise false. The caller writes `bytes`.
bool TakeChangedPauseBytes(std::string* bytes);

// Writes the pause file now when what it holds has changed.
void SavePausedJobs();

// Reads the pause file and pauses the jobs of jobList its records name (tells
// the queue). Records naming no queued job are dropped: the file is rewritten
// at once without them. A missing or unreadable file pauses nothing.
void LoadPausedJobs();

// LoadPausedJobs's reader, on an open stream; nothing is written.
// Returns how many records found no job.
int LoadPausedJobsFrom(std::FILE* file);
