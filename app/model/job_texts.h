// The texts of a job's Status, LastError and Size columns.
//
// Threads: user-interface thread only. The texts share one buffer, so a text is
// valid until the next call of FormatSize, StatusText or LastErrorText: hand it
// on before producing the next one.
#pragma once

#include <cstdint>
#include <string>

#include "download_job.h"

// The one buffer the column texts are written into.
extern char textBuffer[64];

// Writes the compact size text of `bytes` into `out` (at least 8 bytes; callers
// pass textBuffer) and returns `out`: four significant characters, or three when
// the fourth would be the decimal point, then the unit: "b" below 1024, "K" below
// 2^20, "Mb" below 2^32, then "Gb", "Tb", "Pb", "Eb" in steps of 2^10 from 2^30.
// Examples: 0.00b, 512b, 1.50K, 1023K, 4096Mb, 5.00Gb.
char* FormatSize(char* out, std::uint64_t bytes);

// The Status text: the label of a status code, or while data arrives the size
// received and, when the length is known, the percentage done: "1.50K (15.0%)".
const char* StatusText(DownloadJob* job);
// The same from one reading of the job's status and length.
const char* StatusText(long long status, std::uint64_t total);

// The label of the job's result code ("" for success). Producing the label of a
// 404 answer adds 20 to the job's `tries`, so a missing resource soon stops being
// restarted.
const char* ResultLabel(DownloadJob* job);

// The LastError text: "" for a job never restarted, otherwise the result label and
// the restart count from before ResultLabel's change, "Later:1".
const char* LastErrorText(DownloadJob* job);

// The Status text of a paused job: "Paused", followed while bytes are held by
// their size and, when the length is known, the share done: "Paused 1.50K
// (15.0%)". The bytes held are the run's own count while one is under way or
// since the last one ended, else the length of the file on disk (a restart).
const char* PausedText(DownloadJob* job);
// The same with the status and length read once by the caller.
const char* PausedText(DownloadJob* job, long long status, std::uint64_t total);

// One sentence saying what the LastError text `text` ("Label:N") means, for its
// tooltip; "" for an empty text. `fileError` is the system's error number behind
// an FProblem (VBRINDLEX::fileError), named when not 0. Reads only the text: the
// 404 rule is never run here.
std::string LastErrorExplanation(const std::string& text, int fileError);
