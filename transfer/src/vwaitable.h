// What a VHANDLE points at: a signalled flag mirrored in an eventfd, shared by the
// event and thread halves of the handle layer.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "brindlex/vhandle.h"

namespace brindlex {

// A flag that is either set or clear, plus an eventfd whose counter is 1 exactly
// while the flag is set (once every call that changed the flag has finished its
// system call). The flag is the truth for the library's own threads, the
// descriptor is what an outside event loop watches.
//
// Set never takes a lock and makes no system call when the flag was already set:
// a transfer calls it after every 256-byte block. Clearing takes `clearMutex`,
// which no setter ever needs, so waiters and resetters serialise among themselves
// only. Copying is forbidden: other threads hold pointers to it.
class Signal {
public:
    Signal();
    ~Signal();
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    // False when the kernel refused an eventfd (out of descriptors).
    bool Valid() const { return fd >= 0; }
    int Fd() const { return fd; }

    // Any thread. Release: what the caller wrote before is visible to whoever
    // sees the flag set afterwards.
    bool Set();
    // Any thread. Clears the flag; true when this call was the one that cleared it.
    bool Clear();
    // Any thread. One atomic load, no system call.
    bool IsSet() const { return signalled.load(std::memory_order_acquire); }

    // Any thread. Waits until the flag is set; with `consume`, clears it too and
    // only reports success for the waiter that cleared it.
    unsigned long Wait(unsigned long timeoutMs, bool consume);

private:
    // Blocks until a Clear that is between its flag change and its read has read.
    void SettleClear();

    int fd;
    std::atomic<bool> signalled{false};
    std::mutex clearMutex;
};

// How many descriptors of ended signals are kept for the next ones: open, but no
// leak (a check of open descriptors leaves them out).
std::size_t KeptSignalFds();

// State a thread handle shares with the thread it started: the thread may outlive
// the handle (VCloseHandle on a running thread), so neither owns it alone.
struct SharedState {
    Signal signal;
    // Written by the started thread before it sets `signal`, read only after
    // seeing `signal` set: the flag's release/acquire orders the two.
    unsigned long exitCode = 0;
};

}  // namespace brindlex

struct VWaitable {
    enum class Kind { kAutoEvent, kManualEvent, kThread };

    explicit VWaitable(Kind k) : kind(k), state(std::make_shared<brindlex::SharedState>()) {}
    VWaitable(const VWaitable&) = delete;
    VWaitable& operator=(const VWaitable&) = delete;

    const Kind kind;
    const std::shared_ptr<brindlex::SharedState> state;
};
