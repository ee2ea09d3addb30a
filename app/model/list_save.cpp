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

bool pending = false;

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

void SaveJobListSoon() {
    // Nothing is lost by the wait, even if the program dies before the save. The
    // only records a late save still holds are Done jobs. Brought back by the
    // next start, such a job asks for the bytes past the end of its complete file,
    // and the resume logic takes the answer as complete: a server that keeps
    // ranges says the range starts at the file's full length (416 with that
    // length), one that does not announces that same length, and either way the
    // run ends Done without writing a byte. Adds and deletes are not delayed
    // (they change what the user would get back), and neither is the shutdown.
    pending = true;
}

bool JobListSavePending() { return pending; }

bool SaveJobListInBackground() {
    if (!pending) return true;
    Writer& writer = TheWriter();
    if (writer.busy.load(std::memory_order_acquire)) return false;
    writer.Join();
    pending = false;
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

void TakeOverListSaves() {
    pending = false;
    TheWriter().Join();
}

void FinishListSaves() {
    const bool wanted = pending;
    TakeOverListSaves();
    if (wanted) SaveJobList();
}
