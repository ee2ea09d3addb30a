// The speed of one run and the time it still needs, measured over the last few
// seconds, for the tooltip of a running row. Plain C++: the caller passes the
// times, so the sums are tested without a clock or a window.
//
// Threads: user-interface thread only (one meter per running job).
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

class SpeedMeter {
public:
    // How far back the speed looks: long enough to smooth the bursts of a
    // connection, short enough to follow a change of pace within a few seconds.
    static constexpr double kWindowSeconds = 5.0;

    // The run held `bytes` at time `seconds` (any steady clock). A count below the
    // last one (a restarted run) or a time before the last one starts afresh.
    void AddSample(double seconds, std::uint64_t bytes);
    void Clear() { samples_.clear(); }

    // Bytes per second over the window that ends at `now` (not before the last
    // sample): no new sample since then means nothing arrived, so a stalled run
    // slows down to 0. Empty until two samples lie apart in time.
    std::optional<double> BytesPerSecond(double now) const;

    // Seconds until `total` bytes are held at that speed. Empty when the total is
    // not known (0 or all bits set) or the speed is unknown or 0.
    std::optional<double> SecondsLeft(double now, std::uint64_t total) const;

private:
    struct Sample {
        double seconds;
        std::uint64_t bytes;
    };
    // Oldest first; one sample at or before the window's start is kept, so the
    // window is covered from its first second.
    std::deque<Sample> samples_;
};

// The tooltip text: "Speed: 1.50K/s" and, on a second line, "Time left: 2:05"
// (hours as "1:02:05"; "?" when not known). Empty when the speed is unknown.
std::string SpeedTipText(std::optional<double> bytesPerSecond, std::optional<double> secondsLeft);

// The short form for the Status text of a running row: "1.50K/s 2:05", or
// "1.50K/s" when the time left is not known. Empty when the speed is unknown.
std::string SpeedShortText(std::optional<double> bytesPerSecond, std::optional<double> secondsLeft);

// Seconds as "m:ss" below an hour, "h:mm:ss" above, "?" for 100 hours or more.
std::string DurationText(double seconds);
