// Where one thread sleeps until another wakes it: a word the kernel waits on
// (futex), and nothing else.
//
// A condition variable costs a mutex taken by both sides, and glibc marks that
// mutex contended whenever a waiter takes it back, so every wake-up ends in one
// more system call. The library's hottest sleeps (a pooled thread waiting for
// its next procedure, a worker waiting for its transfer) need no mutex: what the
// waker publishes is ordered by the word itself.
//
// An unpark that comes before the park is kept, and the park then returns at
// once; only one unpark is kept, so the sleeper checks its own condition again
// after every park.
#pragma once

#include <atomic>
#include <chrono>

namespace brindlex {

class Parker {
public:
    Parker() = default;
    Parker(const Parker&) = delete;
    Parker& operator=(const Parker&) = delete;

    // Only the one thread that sleeps here. True when unparked (the unpark is
    // used up), false when `timeout` passed first. Acquire: what the waker wrote
    // before Unpark is visible after a true return.
    bool Park(std::chrono::milliseconds timeout);
    // Sleeps until unparked, however long that takes.
    void ParkUntilUnparked();
    // Any thread, any number of times. Release. A system call only when the
    // sleeper is parked.
    void Unpark();

private:
    static constexpr int kEmpty = 0;
    static constexpr int kUnparked = 1;
    static constexpr int kParked = -1;

    void Sleep(const struct timespec* timeout);

    std::atomic<int> state_{kEmpty};
};

}  // namespace brindlex
