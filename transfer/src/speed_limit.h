// The speed limits: one for every run of the process together (VSetSpeedLimit),
// and each object's own (VBRINDLEX::speedLimit), both in bytes per second written
// to the file.
//
// Each limit is a clock of when its bytes are due: every block written moves it on
// by the time the block takes at the limit, and a reader whose block is due later
// than now waits until then. The process-wide clock is one for all runs: each run
// books its blocks on it in turn, so runs that keep up share it evenly (one run
// gets all of it, four a quarter each) and a run slower than its share leaves the
// rest to the others. A clock never lags now by more than a short burst, so an
// idle spell is not made up for later.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "brindlex/vbrindlex.h"

namespace brindlex {

// Process-wide limit, bytes per second, 0 for none: one relaxed load, for the
// fetch's read loop to test each block.
extern std::atomic<std::uint64_t> processSpeedLimit;

// The object's own clock, shared by the connections of an attempt that fetches
// over several: its limit is for all of them together, and they take one turn
// on the process-wide clock, as one run.
struct SharedOwnClock {
    std::mutex turn;  // held by the connection booking and waiting its turn
    std::uint64_t limit = 0;
    std::chrono::steady_clock::time_point due{};
};

// One connection's side of the limits; lives on its thread for one attempt.
class SpeedPacer {
public:
    explicit SpeedPacer(VBRINDLEX& owner, SharedOwnClock* shared = nullptr)
        : owner_(owner), shared_(shared) {}
    SpeedPacer(const SpeedPacer&) = delete;
    SpeedPacer& operator=(const SpeedPacer&) = delete;

    // Worker thread, after `count` bytes went to the file. Without a limit it
    // returns at once; otherwise it holds the run back until the bytes are due, in
    // slices that end early on a stop request or a change of either limit, and
    // marks the run alive at every slice, so the watchdog never takes a run held
    // back for a stalled one.
    void Written(std::size_t count) {
        if (processSpeedLimit.load(std::memory_order_relaxed) == 0 &&
            owner_.speedLimit.load(std::memory_order_relaxed) == 0 && ownLimit_ == 0) {
            return;
        }
        Pace(count);
    }

private:
    using Clock = std::chrono::steady_clock;
    void Pace(std::size_t count);
    void HoldUntil(Clock::time_point due, std::uint64_t generation);

    VBRINDLEX& owner_;
    SharedOwnClock* const shared_;
    std::uint64_t ownLimit_ = 0;
    Clock::time_point ownDue_{};
};

}  // namespace brindlex
