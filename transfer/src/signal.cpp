// The flag-plus-eventfd pair behind every handle.
//
// Why the counter always comes back to the flag:
//   Set writes 1 only when its exchange turned the flag from clear to set; Clear reads
//   only when its exchange turned it from set to clear. Exchanges on one atomic are
//   totally ordered, so these transitions alternate: setting exchanges minus clearing
//   exchanges is always the flag itself (0 or 1). The counter is writes done minus
//   reads done, so once every call has finished its system call, counter == flag.
//
// The races in between:
//   - A Clear may win its exchange before the Set it cancels has written. Its read is
//     blocking, so it sleeps in the kernel until that write lands; the setter is
//     already committed to writing, so this is a short sleep, never a spin and never
//     a wait for a signal that will not come.
//   - A Set may write after a Clear's exchange but before that Clear's read, so the
//     counter briefly reaches 2. EFD_SEMAPHORE makes every read take exactly 1: a
//     plain eventfd read would take both and leave the counter at 0 with the flag set,
//     losing the signal for anyone watching the descriptor.
//   - Between a Clear's exchange and its read, the descriptor is readable while the
//     flag is clear. A waiter that polls again at once would spin until that read, so
//     it first takes clearMutex (see SettleClear). Clears hold that mutex across the
//     exchange and the read, so under it all clearing exchanges have read; with the
//     flag clear, setting and clearing exchanges are equal in number, hence
//     counter = writes done - setting exchanges <= 0, i.e. exactly 0: the next poll
//     sleeps until a new Set.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <mutex>
#include <vector>

#include "kept_list.h"
#include "vwaitable.h"

namespace brindlex {

namespace {

// Descriptors of ended signals, their counters back at 0, for the next signals.
// A new eventfd costs the kernel an inode and its close frees it again, and every
// run makes and ends four. Enough for a busy queue's turnover.
struct KeptEventFds {
    using Item = int;
    static constexpr std::size_t kCapacity = 64;
    // A child shares each inherited descriptor's counter with its parent: handing
    // one out on both sides would let either side's signals wake the other's
    // watchers.
    static void InChild(std::vector<int>& fds) {
        for (const int kept : fds) close(kept);
        fds.clear();
    }
};
using KeptFds = KeptList<KeptEventFds>;

int TakeFd() {
    int kept = -1;
    return KeptFds::Take(&kept) ? kept : eventfd(0, EFD_CLOEXEC | EFD_SEMAPHORE);
}

}  // namespace

std::size_t KeptSignalFds() { return KeptFds::Size(); }

Signal::Signal() : fd(TakeFd()) {}

// The last user of the handle. A waiter that saw the flag set may close the handle
// while the Set that set it has yet to write (the flag changes first). Reading the
// unit back blocks until that write has landed, so the descriptor is never closed
// under it: a write after close could hit another file that reused the number. A read,
// unlike a poll, also orders the two for ThreadSanitizer. With no call left in
// flight the counter is then 0, and the descriptor can serve a new signal.
Signal::~Signal() {
    if (fd < 0) return;
    if (IsSet()) {
        std::uint64_t value;
        ssize_t n;
        do {
            n = read(fd, &value, sizeof value);
        } while (n < 0 && errno == EINTR);
        if (n != sizeof value) {
            close(fd);
            return;
        }
    }
    if (!KeptFds::GiveBack(fd)) close(fd);
}

bool Signal::Set() {
    // Read before the exchange: once the flag is set, a waiter may free this object
    // (the destructor waits for our write, but not for our reads of members).
    const int descriptor = fd;
    // An exchange rather than a load-then-exchange: a plain load could read a stale
    // "set" after a consumer had already cleared the flag, and the caller's latest
    // writes would then be published by no signal at all.
    if (signalled.exchange(true, std::memory_order_acq_rel)) return true;
    const std::uint64_t one = 1;
    ssize_t n;
    do {
        n = write(descriptor, &one, sizeof one);
    } while (n < 0 && errno == EINTR);
    return n == sizeof one;
}

bool Signal::Clear() {
    std::lock_guard lock(clearMutex);
    if (!signalled.exchange(false, std::memory_order_acq_rel)) return false;
    std::uint64_t value;
    ssize_t n;
    do {
        n = read(fd, &value, sizeof value);  // blocks only until an in-flight Set writes
    } while (n < 0 && errno == EINTR);
    return true;
}

void Signal::SettleClear() { std::lock_guard lock(clearMutex); }

unsigned long Signal::Wait(unsigned long timeoutMs, bool consume) {
    using Clock = std::chrono::steady_clock;
    // unsigned long is wider than the 32-bit time-outs callers mean: anything from
    // V_INFINITE up waits for ever rather than overflowing the deadline.
    const bool forever = timeoutMs >= V_INFINITE;
    const Clock::time_point deadline =
        forever ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);

    for (;;) {
        if (consume ? Clear() : IsSet()) return VWAIT_SIGNALLED;

        int pollMs = -1;
        if (!forever) {
            // Rounded up so that a wait never ends before its time-out has passed.
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return VWAIT_TIMEOUT;
            pollMs = left > INT_MAX ? INT_MAX : static_cast<int>(left);
        }

        pollfd watched{fd, POLLIN, 0};
        const int ready = poll(&watched, 1, pollMs);
        if (ready < 0) {
            if (errno == EINTR) continue;  // the loop recomputes what is left
            return VWAIT_FAILED;
        }
        if (ready == 0) continue;  // timed out, or a slice of a very long wait ended
        if (watched.revents & (POLLERR | POLLNVAL)) return VWAIT_FAILED;
        // Readable: either set (the loop's first line takes it) or a Clear has yet to
        // read; wait that out so the next poll cannot return at once for nothing.
        if (!IsSet()) SettleClear();
    }
}

}  // namespace brindlex
