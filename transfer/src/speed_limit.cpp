#include "speed_limit.h"

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>

#include "brindlex/vhandle.h"

namespace brindlex {

std::atomic<std::uint64_t> processSpeedLimit{0};

namespace {

using Clock = std::chrono::steady_clock;

// How far a clock may lag now: what a run may take at once after an idle spell.
constexpr auto kBurst = std::chrono::milliseconds(50);
// Longest slice of a hold: a stop, the watchdog and a new limit act within it.
constexpr auto kHoldSlice = std::chrono::milliseconds(100);

std::mutex clockMutex;
Clock::time_point processDue{};  // guarded by clockMutex
// Moves on at every change of the process-wide limit, so that runs held back at
// the old limit stop waiting for it.
std::atomic<std::uint64_t> limitGeneration{0};

Clock::duration TimeFor(std::size_t count, std::uint64_t bytesPerSecond) {
    const auto ns = static_cast<std::uint64_t>(count) * 1000000000ULL / bytesPerSecond;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(ns));
}

// Books `count` bytes on a clock; returns when they are due.
Clock::time_point Book(Clock::time_point* due, Clock::time_point now, std::size_t count,
                       std::uint64_t bytesPerSecond) {
    *due = std::max(*due, now - kBurst) + TimeFor(count, bytesPerSecond);
    return *due;
}

}  // namespace

void SpeedPacer::Pace(std::size_t count) {
    // The connections of one run take their turns on the clocks one at a time,
    // waits included: to the process-wide clock they are one run, not several.
    std::unique_lock<std::mutex> turn;
    if (shared_ != nullptr) turn = std::unique_lock(shared_->turn);
    const Clock::time_point now = Clock::now();
    Clock::time_point due = now;
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(clockMutex);
        generation = limitGeneration.load(std::memory_order_relaxed);
        const std::uint64_t limit = processSpeedLimit.load(std::memory_order_relaxed);
        if (limit != 0) due = Book(&processDue, now, count, limit);
    }
    const std::uint64_t own = owner_.speedLimit.load(std::memory_order_relaxed);
    if (shared_ != nullptr) {
        if (own != shared_->limit) {
            shared_->limit = own;
            shared_->due = now;
        }
        ownLimit_ = own;
        if (own != 0) due = std::max(due, Book(&shared_->due, now, count, own));
    } else if (own != ownLimit_) {
        // A new limit of its own starts from now, whatever the old one had booked.
        ownLimit_ = own;
        ownDue_ = now;
    }
    if (own != 0 && shared_ == nullptr) due = std::max(due, Book(&ownDue_, now, count, own));
    // Every block that is due later is waited for, however short the wait: a run
    // that went on without waiting would book its next block before the others
    // had booked theirs, and take more than its share. A wait that oversleeps
    // costs nothing, as the clock lets the run catch up.
    if (due > now) HoldUntil(due, generation);
}

void SpeedPacer::HoldUntil(Clock::time_point due, std::uint64_t generation) {
    VHANDLE stop = owner_.stopEvent;
    const pollfd watched{VHandleFd(stop), POLLIN, 0};
    for (;;) {
        // Held back is not stalled.
        owner_.flags.fetch_or(FLAG_ALIVE, std::memory_order_relaxed);
        if (stop != nullptr && VIsSignalled(stop)) return;
        if (limitGeneration.load(std::memory_order_relaxed) != generation ||
            owner_.speedLimit.load(std::memory_order_relaxed) != ownLimit_) {
            return;
        }
        const auto left = due - Clock::now();
        if (left <= Clock::duration::zero()) return;
        const auto slice = std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::min<Clock::duration>(left, kHoldSlice));
        const timespec timeout{static_cast<time_t>(slice.count() / 1000000000),
                               static_cast<long>(slice.count() % 1000000000)};
        // Without a stop event the descriptor is -1, which ppoll skips: a plain sleep.
        pollfd fd = watched;
        ppoll(&fd, 1, &timeout, nullptr);
    }
}

}  // namespace brindlex

void VSetSpeedLimit(std::uint64_t bytesPerSecond) {
    std::lock_guard lock(brindlex::clockMutex);
    brindlex::processSpeedLimit.store(bytesPerSecond, std::memory_order_relaxed);
    // The new limit counts from now: nothing booked at the old one is owed.
    brindlex::processDue = std::chrono::steady_clock::now();
    brindlex::limitGeneration.fetch_add(1, std::memory_order_relaxed);
}

std::uint64_t VGetSpeedLimit() {
    return brindlex::processSpeedLimit.load(std::memory_order_relaxed);
}
