#include "pause_file.h"

#include <unistd.h>

#include <string>
#include <unordered_map>

#include "atomic_file.h"
#include "job_queue.h"
#include "list_file.h"

std::string pausePath;

namespace {

// What the file holds, as far as this process knows: null before the first
// write or read, so that one always happens.
std::string* lastBytes = nullptr;

void Remember(const std::string& bytes) {
    if (lastBytes == nullptr) lastBytes = new std::string();
    *lastBytes = bytes;
}

bool IsPausedForGood(const DownloadJob* job) {
    return job->paused == kPaused && job->deleteMark == 0 &&
           job->status.load(std::memory_order_relaxed) != STATUS_DONE;
}

}  // namespace

std::string PausedJobBytes() {
    std::string bytes;
    for (const DownloadJob* job = jobList; job != nullptr; job = job->next) {
        if (IsPausedForGood(job)) AppendJobRecord(bytes, job->url, job->fileName);
    }
    return bytes;
}

bool TakeChangedPauseBytes(std::string* bytes) {
    std::string now = PausedJobBytes();
    if (lastBytes != nullptr && *lastBytes == now) return false;
    Remember(now);
    *bytes = std::move(now);
    return true;
}

void SavePausedJobs() {
    std::string bytes;
    if (!pausePath.empty() && TakeChangedPauseBytes(&bytes)) WriteFileAtomically(pausePath, bytes);
}

int LoadPausedJobsFrom(std::FILE* file) {
    // Each record, as the list file would write it, with how many jobs it pauses.
    std::unordered_map<std::string, int> wanted;
    int records = 0;
    struct Reading {
        std::unordered_map<std::string, int>* wanted;
        int* records;
    } reading{&wanted, &records};
    ReadRecords(
        file,
        [](std::string& url, std::string& name, void* context) {
            auto* r = static_cast<Reading*>(context);
            std::string record;
            AppendJobRecord(record, url.c_str(), name.c_str());
            ++(*r->wanted)[record];
            ++*r->records;
        },
        &reading);
    if (wanted.empty()) return 0;
    int found = 0;
    std::string record;
    for (DownloadJob* job = jobList; job != nullptr; job = job->next) {
        if (job->status.load(std::memory_order_relaxed) == STATUS_DONE) continue;
        record.clear();
        AppendJobRecord(record, job->url, job->fileName);
        auto entry = wanted.find(record);
        if (entry == wanted.end() || entry->second == 0) continue;
        --entry->second;
        ++found;
        job->paused = kPaused;
        JobStoppedBeingStartable(job);
    }
    return records - found;
}

void LoadPausedJobs() {
    const int fd = OpenStateFileForReading(pausePath);
    std::FILE* file = fd < 0 ? nullptr : fdopen(fd, "rb");
    if (file == nullptr) {
        if (fd >= 0) close(fd);
        Remember(std::string());  // no file: nothing paused, nothing to write yet
        return;
    }
    const int dropped = LoadPausedJobsFrom(file);
    std::fclose(file);
    const std::string bytes = PausedJobBytes();
    Remember(bytes);
    if (dropped != 0) WriteFileAtomically(pausePath, bytes);
}
