#include "process_id.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace brindlex {

namespace {
std::atomic<pid_t> cachedId{0};
void Refresh() { cachedId.store(getpid(), std::memory_order_relaxed); }
}  // namespace

pid_t CurrentProcessId() {
    static std::once_flag once;
    std::call_once(once, [] {
        Refresh();
        // Child handlers run before fork returns there, so nothing in the child
        // sees the parent's id.
        pthread_atfork(nullptr, nullptr, Refresh);
    });
    return cachedId.load(std::memory_order_relaxed);
}

}  // namespace brindlex
