#include "parker.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace brindlex {

static_assert(sizeof(std::atomic<int>) == sizeof(int) && std::atomic<int>::is_always_lock_free,
              "the kernel waits on the word itself");

void Parker::Sleep(const timespec* timeout) {
    // Returns at once when the word is no longer kParked (an unpark came first);
    // a signal or a spurious wake-up is checked by the caller.
    syscall(SYS_futex, reinterpret_cast<int*>(&state_), FUTEX_WAIT_PRIVATE, kParked, timeout,
            nullptr, 0);
}

bool Parker::Park(std::chrono::milliseconds timeout) {
    // kUnparked -> kEmpty: the unpark that came first is used up.
    if (state_.fetch_sub(1, std::memory_order_acquire) == kUnparked) return true;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
        if (left.count() <= 0 || state_.load(std::memory_order_relaxed) != kParked) break;
        const timespec relative{static_cast<time_t>(left.count() / 1000000000),
                                static_cast<long>(left.count() % 1000000000)};
        Sleep(&relative);
    }
    return state_.exchange(kEmpty, std::memory_order_acquire) == kUnparked;
}

void Parker::ParkUntilUnparked() {
    while (!Park(std::chrono::hours(1))) {
    }
}

void Parker::Unpark() {
    if (state_.exchange(kUnparked, std::memory_order_release) == kParked) {
        syscall(SYS_futex, reinterpret_cast<int*>(&state_), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr,
                0);
    }
}

}  // namespace brindlex
