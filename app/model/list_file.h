// The list file: the queue kept across restarts, one record per job not yet Done.
//
// A record is the job's URL and file name, each between double quotes, separated by
// one space, ended by a line feed. There is no escape, and other tools and hand
// edits rely on the format as it is: so a double quote never reaches a field. The
// writer percent-encodes one in a URL and replaces one in a file name by '-' (the
// New File dialog already does both, so the saved job is the job in memory).
//
// Threads: user-interface thread only.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "file_name_chars.h"

// Full path of the list file; set at start-up.
extern std::string listPath;

// Longest URL and file name kept on reading; longer fields are cut. Every URL the
// program takes (kLongestUrl) fits, even when each of its bytes was a double quote
// written as "%22"; every name it accepts (kLongestFileName) fits too.
constexpr std::size_t kListUrlMax = 3 * kLongestUrl;
constexpr std::size_t kListFileNameMax = 259;
static_assert(kListFileNameMax >= kLongestFileName);

// `url` with every double quote written as "%22": the same address to a server,
// and one the list file can hold.
std::string UrlWithoutQuotes(std::string_view url);

// The records of every job of jobList that is neither Done nor marked for
// deletion (`deleteMark`): what the list file holds, as one text.
std::string JobListBytes();

// Appends the record of a job with `url` and `fileName` (either may be null) to
// `bytes`, exactly as the list file holds it.
void AppendJobRecord(std::string& bytes, const char* url, const char* fileName);

// Reads whole records from `file` (from its current position to its end; the
// stream is not closed), handing each URL and file name to `take`, cut like the
// list file's fields. An unfinished last record is dropped.
void ReadRecords(std::FILE* file, void (*take)(std::string& url, std::string& name, void* context),
                 void* context);

// Reads the list file and appends one waiting job per whole record. A missing or
// unreadable file adds nothing; an unfinished last record is dropped.
void LoadJobList();

// LoadJobList's reader, on an open stream (read from its current position to its
// end; the stream is not closed).
void LoadJobListFrom(std::FILE* file);
