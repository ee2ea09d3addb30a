#include "job_control.h"

#include <cstring>
#include <string>
#include <utility>

#include "caught_fields.h"
#include "file_name_chars.h"
#include "job_queue.h"
#include "job_texts.h"
#include "list_file.h"
#include "list_save.h"
#include "main_thread.h"
#include "own_file.h"

namespace {

long long StatusOf(const DownloadJob* job) { return job->status.load(std::memory_order_relaxed); }

}  // namespace

bool CanPauseJob(const DownloadJob* job) {
    if (job->paused == kPaused) return false;
    if (job->thread != nullptr) return StatusOf(job) != STATUS_DONE;
    const long long status = StatusOf(job);
    return status == STATUS_WAIT || (status == STATUS_FAILED && job->tries < maxTries);
}

bool CanResumeJob(const DownloadJob* job) { return job->paused == kPaused; }

bool CanRetryJobNow(const DownloadJob* job) {
    return job->paused == kNotPaused && job->thread == nullptr && StatusOf(job) == STATUS_FAILED &&
           job->tries >= maxTries;
}

bool PauseJob(DownloadJob* job) {
    VANTOREL_ASSERT_UI_THREAD();
    if (!CanPauseJob(job)) return false;
    job->paused = kPaused;
    JobStoppedBeingStartable(job);
    SaveJobListSoon();  // the pause file goes with the list's next save
    // The run ends at its next block boundary; its end is settled when collected.
    if (job->thread != nullptr) VSetEvent(job->stopEvent);
    return true;
}

bool ResumeJob(DownloadJob* job) {
    VANTOREL_ASSERT_UI_THREAD();
    if (!CanResumeJob(job)) return false;
    job->paused = job->thread != nullptr ? kResumeWhenStopped : kNotPaused;
    if (job->paused == kNotPaused) JobBecameStartable(job);
    SaveJobListSoon();
    return true;
}

bool RetryJobNow(DownloadJob* job) {
    VANTOREL_ASSERT_UI_THREAD();
    if (!CanRetryJobNow(job)) return false;
    job->tries = 0;
    // No run of ours at all: its status is ours to set. Waiting, it starts as a
    // first run (no try counted) now, or, while another run writes its file, from
    // the scheduler once that file is free. A run that cannot be started leaves
    // it Failed with its tries reset, so the scheduler restarts it like any other.
    job->status.store(STATUS_WAIT, std::memory_order_relaxed);
    JobBecameStartable(job);
    if (job->fileName == nullptr || !FileBeingWritten(job->fileName)) StartJobNow(job);
    return true;
}

void SettleEndedRun(DownloadJob* job) {
    if (job->paused == kNotPaused) return;
    const long long status = StatusOf(job);
    if (status == STATUS_DONE) {
        // The last block came before the stop: nothing is left to hold back.
        job->paused = kNotPaused;
        return;
    }
    // The run is collected, so no transfer thread writes `status` any more. An
    // end the pause caused is not a failure; any other failure stays one.
    if (status == STATUS_FAILED && job->result.load() == RESULT_INTERRUPTED) {
        job->status.store(STATUS_WAIT, std::memory_order_relaxed);
    }
    if (job->paused == kResumeWhenStopped) {
        job->paused = kNotPaused;
        JobBecameStartable(job);
    }
}

const char* JobStatusText(DownloadJob* job) {
    if (job->paused == kPaused && StatusOf(job) != STATUS_DONE) return PausedText(job);
    return StatusText(job);
}

const char* JobStatusText(DownloadJob* job, long long status, std::uint64_t total) {
    if (job->paused == kPaused && status != STATUS_DONE) return PausedText(job, status, total);
    return StatusText(status, total);
}

namespace {

// Appends the job New File would add, without saving or starting anything.
// `prepare` (when given) gets the new job before it joins the queue.
NewFileOutcome QueueNewFileJob(std::string_view url, std::string_view fileName,
                               DownloadJob** added,
                               const std::function<void(DownloadJob*)>& prepare) {
    if (DialogTextLength(url) < kShortestUrl) return kUrlTooShort;
    if (url.size() > kLongestUrl) return kUrlTooLong;
    // The name is one file in the save folder ('/' was replaced); numbered when
    // taken, and then checked: a longer one can never be created, and the
    // proposal from a signed URL's query often is.
    ClaimedName claimed;
    if (!ClaimFreeName(CleanFileName(fileName), NameTakenInQueue, &claimed)) {
        return kFileNameTooLong;
    }
    auto* job = new DownloadJob();
    // Neither setter is checked: a job whose copies failed still joins the queue,
    // and its run reports the problem in the list.
    job->SetURL(UrlWithoutQuotes(url).c_str());
    GiveClaimedName(job, claimed);
    if (prepare) prepare(job);
    AppendJob(job);
    if (added != nullptr) *added = job;
    return kJobAdded;
}

}  // namespace

NewFileOutcome AddNewFileJob(std::string_view url, std::string_view fileName, DownloadJob** added,
                             const std::function<void(DownloadJob*)>& prepare) {
    const NewFileOutcome outcome = QueueNewFileJob(url, fileName, added, prepare);
    if (outcome != kJobAdded) return outcome;
    SaveJobList();
    StartJobs();
    return outcome;
}

std::vector<NewFileOutcome> AddUrlsAsNewFiles(const std::vector<std::string>& urls) {
    std::vector<NewFileOutcome> outcomes;
    outcomes.reserve(urls.size());
    bool any = false;
    for (const std::string& url : urls) {
        // Cut only where a narrow string ends (its first NUL); a URL past
        // kLongestUrl is refused, not cut into another address.
        const std::string typed = CutDialogText(url, url.size());
        outcomes.push_back(
            QueueNewFileJob(typed, CutDialogText(ProposeFileName(typed), kDialogTextMax), nullptr,
                            nullptr));
        any = any || outcomes.back() == kJobAdded;
    }
    // A thousand URLs from one command line are one change of the queue: one
    // rewrite of the list file, not one per URL.
    if (any) {
        SaveJobList();
        StartJobs();
    }
    return outcomes;
}

NewFileOutcome AddUrlAsNewFile(std::string_view url) {
    return AddUrlsAsNewFiles({std::string(url)}).front();
}

NewFileOutcome AddCaughtDownload(std::string_view url, std::string_view proposedName,
                                 CaughtFields fields) {
    // Like any URL handed over: cut only at its first NUL, refused when too long.
    const std::string typed = CutDialogText(url, url.size());
    const std::string name = CutDialogText(
        proposedName.empty() ? std::string_view(ProposeFileName(typed)) : proposedName,
        kDialogTextMax);
    return AddNewFileJob(typed, name, nullptr, [&fields](DownloadJob* job) {
        AttachCaughtFields(job, std::move(fields));
    });
}
