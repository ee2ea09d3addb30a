#include "list_save.h"

#include <atomic>
#include <string>
#include <thread>
#include <utility>

#include "atomic_file.h"
#include "caught_fields.h"
#include "list_file.h"
#include "pause_file.h"

namespace {

unsigned long long saveCount = 0;

// At most one save at a time on the writer thread; joined before the next one,
// and at exit at the latest.
struct Writer {
    std::thread thread;
    std::atomic<bool> busy{false};
    ~Writer() { Join(); }
    void Join() {
        if (thread.joinable()) thread.join();
    }
};

Writer& TheWriter() {
    static Writer writer;
    return writer;
}

}  // namespace

bool SaveJobListInBackground() {
    if (!JobListSavePending()) return true;
    Writer& writer = TheWriter();
    if (writer.busy.load(std::memory_order_acquire)) return false;
    writer.Join();
    DropJobListSaveRequest();
    writer.busy.store(true, std::memory_order_relaxed);
    // The pauses go with the list: their file is written only when it changed.
    std::string pauses;
    const bool pausesChanged = !pausePath.empty() && TakeChangedPauseBytes(&pauses);
    writer.thread = std::thread([path = listPath, bytes = JobListBytes(), pausesChanged,
                                 pauses = std::move(pauses), pauseFile = pausePath, &writer] {
        WriteFileAtomically(path, bytes);
        if (pausesChanged) WriteFileAtomically(pauseFile, pauses);
        writer.busy.store(false, std::memory_order_release);
    });
    // Small (caught jobs only) and written here: it follows the same jobs.
    SaveCaughtFields();
    return true;
}

unsigned long long JobListSaveCount() { return saveCount; }

void SaveJobList() {
    ++saveCount;
    // A save still being written by the coalesced path holds older records: it
    // must end before this one, never rename over it afterwards.
    TakeOverListSaves();
    WriteFileAtomically(listPath, JobListBytes());
    SavePausedJobs();
    SaveCaughtFields();
}

void TakeOverListSaves() {
    DropJobListSaveRequest();
    TheWriter().Join();
}

void FinishListSaves() {
    const bool wanted = JobListSavePending();
    TakeOverListSaves();
    if (wanted) SaveJobList();
}
