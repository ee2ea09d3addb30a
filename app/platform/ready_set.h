// Many descriptors watched for readability through one: an epoll descriptor that
// is readable while any armed member is, so an event loop watches a single
// descriptor however many runs are going.
//
// One watcher per descriptor in the loop (a QSocketNotifier each) costs the loop
// on every turn: it polls them all, and adding, enabling or removing one wakes it.
// Here each member is one-shot: reported once, then disarmed until it is armed
// again, which is what a watcher that coalesces wake-ups wants anyway.
//
// Threads: one thread at a time (the user-interface thread in the program).
#pragma once

#include <cstddef>
#include <cstdint>

class ReadySet {
public:
    ReadySet();
    ~ReadySet();
    ReadySet(const ReadySet&) = delete;
    ReadySet& operator=(const ReadySet&) = delete;

    // False when the kernel gave no epoll descriptor (out of descriptors).
    bool Valid() const { return fd_ >= 0; }
    // Readable while an armed member is readable.
    int Fd() const { return fd_; }

    // Watches `fd` until it is reported once; `key` comes back with the report.
    // False when the kernel refused.
    bool Add(int fd, std::uint64_t key);
    // Arms `fd` again after its report: reported at once if readable now.
    bool Rearm(int fd, std::uint64_t key);
    // Stops watching `fd`; before it is closed.
    void Remove(int fd);

    // Takes the keys of up to `max` members readable now, without waiting; each
    // is disarmed. Returns how many.
    std::size_t TakeReady(std::uint64_t* keys, std::size_t max);

private:
    int fd_;
};
