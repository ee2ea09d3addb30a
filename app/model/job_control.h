// What the user does to one download beyond adding and deleting it: pause it,
// resume it, retry it at once after its tries ran out; and the one way both New
// File and URLs handed from outside add a job.
//
// A pause stops a running download the way quitting does: the run ends at its
// next block boundary with RESULT_INTERRUPTED and keeps its partial file, which
// the next run resumes. A paused job keeps its place in the queue and in the list
// file; the scheduler passes over it until it is resumed. The pause is kept across
// restarts in the pause file (pause_file.h), which a pause or a resume asks the
// list's next save to write.
//
// Threads: user-interface thread only, like the queue itself.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "download_job.h"

// Whether the row's Pause, Resume and Retry now apply to `job`. Pause: a running,
// waiting or to-be-restarted job that is not paused. Resume: a paused job. Retry
// now: a job that failed with its tries used up, is not paused and not running.
bool CanPauseJob(const DownloadJob* job);
bool CanResumeJob(const DownloadJob* job);
bool CanRetryJobNow(const DownloadJob* job);

// Holds the job back; a running one is asked to stop. False when it does not apply.
bool PauseJob(DownloadJob* job);

// Lets the scheduler take the job again; the caller runs StartJobs. A job whose
// stop is still under way becomes startable once its end is collected. False
// when it does not apply.
bool ResumeJob(DownloadJob* job);

// Resets the job's tries and starts it at once, also beyond maxFiles: the user
// asked for it now. Its partial file is resumed. While another run writes the
// same file it waits instead and starts when that file is free. False when it
// does not apply.
bool RetryJobNow(DownloadJob* job);

// Call when a run's end has been collected (its handles closed), before the
// scheduler runs: a run the pause stopped leaves the job waiting, not failed, so
// resuming it is not a restart and costs no try.
void SettleEndedRun(DownloadJob* job);

// The Status text: PausedText ("Paused", with the bytes held and the share
// done) for a paused job that is not Done, otherwise StatusText. Shares
// textBuffer like the other column texts.
const char* JobStatusText(DownloadJob* job);
// The same from one reading of the job's status and length by the caller.
const char* JobStatusText(DownloadJob* job, long long status, std::uint64_t total);

// Why AddNewFileJob added nothing, or that it did.
enum NewFileOutcome : int {
    kJobAdded = 0,
    kUrlTooShort,      // fewer than 6 characters: "Give me a URL!"
    kFileNameTooLong,  // the free name is longer than one file name may be
    kUrlTooLong,       // more than kLongestUrl bytes: "URL too long!"
};

// What New File's OK does with its two texts: a URL of fewer than 6 characters
// or more than kLongestUrl bytes adds nothing. Otherwise the name is cleaned of
// the characters a name may not hold ("index.html" when empty) and made free
// (own_file.h): when a file in the save folder or another queued job has it, the
// first free numbered one is taken ("slow2 (1).bin") and reserved; one longer
// than the file system allows adds nothing. A job for `url` (its double quotes
// encoded, so every run asks for the address the list file keeps) saved under
// that name is appended, the list file saved and the scheduler run; `added`
// (when not null) receives it. The texts are taken as they are. `prepare` (when
// given) gets the new job before it joins the queue, while no run can have
// started.
NewFileOutcome AddNewFileJob(std::string_view url, std::string_view fileName,
                             DownloadJob** added = nullptr,
                             const std::function<void(DownloadJob*)>& prepare = nullptr);

// URLs handed over from outside, each queued exactly as New File with OK would
// queue it after the URL was typed (the file name proposed from it), with one
// save of the list file and one run of the scheduler for them all. The outcome
// of each URL, in order.
std::vector<NewFileOutcome> AddUrlsAsNewFiles(const std::vector<std::string>& urls);

// One URL handed over from outside: AddUrlsAsNewFiles for it alone.
NewFileOutcome AddUrlAsNewFile(std::string_view url);

// A download caught from a browser, queued as New File with OK would queue it
// with the name the browser proposed (cleaned like a typed one; proposed from
// the URL when the browser gave none), the fields (caught_fields.h) attached
// before its first run.
NewFileOutcome AddCaughtDownload(std::string_view url, std::string_view proposedName,
                                 CaughtFields fields);
