#include "shutdown_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

// Shared with the handler, so lock-free atomics rather than plain ints.
std::atomic<int> writeEnd{-1};
// The byte on the pipe only wakes the loop (a full pipe drops it); the signal
// itself is kept here.
std::atomic<int> lastSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

int readEnd = -1;
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

}  // namespace

int InstallShutdownSignals() {
    if (readEnd >= 0) return readEnd;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
    writeEnd.store(ends[1], std::memory_order_relaxed);
    struct sigaction action {};
    action.sa_handler = OnShutdownSignal;
    sigemptyset(&action.sa_mask);
    // Restart interrupted system calls: the rest of the program never expects EINTR.
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < kSignalCount; ++i) {
        if (::sigaction(kSignals[i], &action, &previous[i]) != 0) {
            for (int j = 0; j < i; ++j) ::sigaction(kSignals[j], &previous[j], nullptr);
            writeEnd.store(-1, std::memory_order_relaxed);
            ::close(ends[0]);
            ::close(ends[1]);
            return -1;
        }
    }
    readEnd = ends[0];
    return readEnd;
}

int TakeShutdownSignal() {
    if (readEnd < 0) return 0;
    unsigned char bytes[256];
    for (;;) {
        ssize_t got = ::read(readEnd, bytes, sizeof bytes);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
    }
    // Emptied first: a signal landing after this still leaves its byte to wake
    // the loop again.
    return lastSignal.exchange(0, std::memory_order_relaxed);
}

void RemoveShutdownSignals() {
    if (readEnd < 0) return;
    lastSignal.store(0, std::memory_order_relaxed);
    // Stop the handlers from using the pipe before putting the old ones back; a
    // signal in between is simply dropped, as the window is closing anyway.
    int fd = writeEnd.exchange(-1, std::memory_order_relaxed);
    for (int i = 0; i < kSignalCount; ++i) ::sigaction(kSignals[i], &previous[i], nullptr);
    ::close(fd);
    ::close(readEnd);
    readEnd = -1;
}
