#include "list_save.h"

#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "atomic_file.h"
#include "caught_fields.h"
#include "list_file.h"
#include "pause_file.h"

namespace {

unsigned long long saveCount = 0;

// What one save writes, put together on the user-interface thread.
struct SaveBytes {
    std::string list;
    bool pausesChanged = false;
    std::string pauses;
};

// At most one writer thread at a time. A save asked for while it writes waits
// beside it (a newer one replaces it) and is written next by the same thread,
// so the saves land in the order they were put together. Joined before the next
// thread starts, and at exit at the latest.
struct Writer {
    std::thread thread;
    std::mutex mutex;
    bool busy = false;              // guarded by mutex
    std::optional<SaveBytes> next;  // guarded by mutex
    ~Writer() { Join(); }
    void Join() {
        if (thread.joinable()) thread.join();
    }
};

Writer& TheWriter() {
    static Writer writer;
    return writer;
}

void Write(const SaveBytes& save, const std::string& listFile, const std::string& pauseFile) {
    WriteFileAtomically(listFile, save.list);
    if (save.pausesChanged) WriteFileAtomically(pauseFile, save.pauses);
}

}  // namespace

void SaveJobListInBackground() {
    if (!JobListSavePending()) return;
    DropJobListSaveRequest();
    SaveBytes save;
    save.list = JobListBytes();
    // The pauses go with the list: their file is written only when it changed.
    save.pausesChanged = !pausePath.empty() && TakeChangedPauseBytes(&save.pauses);
    // Small (caught jobs only) and written here: it follows the same jobs.
    SaveCaughtFields();
    Writer& writer = TheWriter();
    {
        std::lock_guard lock(writer.mutex);
        if (writer.busy) {
            // A pause change taken by the save this one replaces still has to land.
            if (writer.next && writer.next->pausesChanged && !save.pausesChanged) {
                save.pausesChanged = true;
                save.pauses = std::move(writer.next->pauses);
            }
            writer.next = std::move(save);
            return;
        }
        writer.busy = true;
    }
    writer.Join();  // its thread has written everything and is on its way out
    writer.thread = std::thread(
        [save = std::move(save), listFile = listPath, pauseFile = pausePath, &writer]() mutable {
            for (;;) {
                Write(save, listFile, pauseFile);
                std::lock_guard lock(writer.mutex);
                if (!writer.next) {
                    writer.busy = false;
                    return;
                }
                save = std::move(*writer.next);
                writer.next.reset();
            }
        });
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
    // The thread also writes a save that waits beside it before it ends.
    TheWriter().Join();
}

void FinishListSaves() {
    const bool wanted = JobListSavePending();
    TakeOverListSaves();
    if (wanted) SaveJobList();
}
