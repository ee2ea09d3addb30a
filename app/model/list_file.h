// The list file: the queue kept across restarts, one record per job not yet Done.
//
// A record is the job's URL and file name, each between double quotes, separated by
// one space, ended by a line feed. There is no escape: a double quote inside a
// field is written unchanged and puts the reading out of step from there on.
//
// Threads: user-interface thread only.
#pragma once

#include <cstdio>
#include <string>

// Full path of the list file; set at start-up.
extern std::string listPath;

// Longest URL and file name kept on reading; longer fields are cut.
constexpr std::size_t kListUrlMax = 2047;
constexpr std::size_t kListFileNameMax = 259;

// Writes a record for every job of jobList that is neither Done nor marked for
// deletion (`deleteMark`), replacing the list file whole (the old one stays if
// the new one cannot be written). A failure is silent: the jobs stay in memory
// and the next save tries again.
void SaveJobList();

// The records SaveJobList writes, as one text.
std::string JobListBytes();

// Reads the list file and appends one waiting job per whole record. A missing or
// unreadable file adds nothing; an unfinished last record is dropped.
void LoadJobList();

// LoadJobList's reader, on an open stream (read from its current position to its
// end; the stream is not closed).
void LoadJobListFrom(std::FILE* file);
