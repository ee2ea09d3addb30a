#include "main_thread.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

// The recorded thread's id; a default id until one is recorded.
std::atomic<std::thread::id> uiThread{};

}  // namespace

void RecordUiThread() { uiThread.store(std::this_thread::get_id()); }

bool OnUiThread() {
    std::thread::id expected{};
    // Nothing recorded yet: the caller becomes the user-interface thread.
    if (uiThread.compare_exchange_strong(expected, std::this_thread::get_id())) return true;
    return expected == std::this_thread::get_id();
}

void CheckUiThread(const char* file, int line) {
    if (OnUiThread()) return;
    std::fprintf(stderr, "%s:%d: called off the user-interface thread\n", file, line);
    std::fflush(stderr);
    std::abort();
}
