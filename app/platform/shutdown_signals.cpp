#include "shutdown_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

// Shared with the handler, so lock-free atomics rather than plain ints. Both ends
// of the pipe stay open from the first install to the end of the process: the
// handler may have read writeEnd on one thread just as another removes the
// handlers, and a closed descriptor could by then be a file opened since, which
// would get the handler's byte.
std::atomic<int> writeEnd{-1};
// The byte on the pipe only wakes the loop (a full pipe drops it); the signal
// itself is kept here.
std::atomic<int> lastSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

int readEnd = -1;
bool installed = false;
struct sigaction previous[kSignalCount];

// Signal context: only async-signal-safe calls, and errno as it was found.
void OnShutdownSignal(int signal) {
    int savedErrno = errno;
    lastSignal.store(signal, std::memory_order_relaxed);
    int fd = writeEnd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        // A full pipe already holds a request: losing this byte loses nothing.
        unsigned char byte = 1;
        [[maybe_unused]] ssize_t ignored = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

void DrainPipe() {
    unsigned char bytes[256];
    for (;;) {
        ssize_t got = ::read(readEnd, bytes, sizeof bytes);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
    }
}

}  // namespace

int InstallShutdownSignals() {
    if (installed) return readEnd;
    if (readEnd < 0) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
        readEnd = ends[0];
        writeEnd.store(ends[1], std::memory_order_relaxed);
    }
    // What a handler left while the last removal was under way is no request.
    DrainPipe();
    lastSignal.store(0, std::memory_order_relaxed);
    struct sigaction action {};
    action.sa_handler = OnShutdownSignal;
    sigemptyset(&action.sa_mask);
    // Restart interrupted system calls: the rest of the program never expects EINTR.
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < kSignalCount; ++i) {
        if (::sigaction(kSignals[i], &action, &previous[i]) != 0) {
            for (int j = 0; j < i; ++j) ::sigaction(kSignals[j], &previous[j], nullptr);
            return -1;
        }
    }
    installed = true;
    return readEnd;
}

int TakeShutdownSignal() {
    if (!installed) return 0;
    DrainPipe();
    // Emptied first: a signal landing after this still leaves its byte to wake
    // the loop again.
    return lastSignal.exchange(0, std::memory_order_relaxed);
}

void RemoveShutdownSignals() {
    if (!installed) return;
    // A signal from here on is dropped, or finds the old handler again: the
    // window is closing anyway. The pipe stays (see writeEnd).
    for (int i = 0; i < kSignalCount; ++i) ::sigaction(kSignals[i], &previous[i], nullptr);
    installed = false;
    lastSignal.store(0, std::memory_order_relaxed);
}
