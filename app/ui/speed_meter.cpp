#include "speed_meter.h"

#include <cmath>
#include <cstdio>

#include "job_texts.h"

void SpeedMeter::AddSample(double seconds, std::uint64_t bytes) {
    if (!samples_.empty() && (bytes < samples_.back().bytes || seconds < samples_.back().seconds)) {
        samples_.clear();
    }
    samples_.push_back({seconds, bytes});
    // Drop what the window no longer needs: every sample older than the newest
    // one at or before the window's start.
    const double start = seconds - kWindowSeconds;
    while (samples_.size() > 2 && samples_[1].seconds <= start) {
        samples_.pop_front();
    }
}

std::optional<double> SpeedMeter::BytesPerSecond(double now) const {
    if (samples_.size() < 2) return std::nullopt;
    const Sample& last = samples_.back();
    if (now < last.seconds) now = last.seconds;
    const double start = now - kWindowSeconds;
    // The bytes held at the window's start, read off the line between the samples
    // around it; a meter younger than the window starts at its first sample.
    double fromSeconds = samples_.front().seconds;
    double fromBytes = static_cast<double>(samples_.front().bytes);
    for (std::size_t i = 1; i < samples_.size() && fromSeconds < start; ++i) {
        const Sample& before = samples_[i - 1];
        const Sample& after = samples_[i];
        if (after.seconds <= start) {
            fromSeconds = after.seconds;
            fromBytes = static_cast<double>(after.bytes);
            continue;
        }
        const double share = (start - before.seconds) / (after.seconds - before.seconds);
        fromBytes = static_cast<double>(before.bytes) +
                    share * static_cast<double>(after.bytes - before.bytes);
        fromSeconds = start;
    }
    if (fromSeconds < start) fromSeconds = start;  // the window began after every sample
    const double span = now - fromSeconds;
    if (span <= 0) return std::nullopt;
    const double gained = static_cast<double>(last.bytes) - fromBytes;
    return gained > 0 ? gained / span : 0.0;
}

std::optional<double> SpeedMeter::SecondsLeft(double now, std::uint64_t total) const {
    if (total == 0 || total == ~std::uint64_t{0} || samples_.empty()) return std::nullopt;
    const std::optional<double> speed = BytesPerSecond(now);
    if (!speed || *speed <= 0) return std::nullopt;
    const std::uint64_t held = samples_.back().bytes;
    const std::uint64_t missing = total > held ? total - held : 0;
    return static_cast<double>(missing) / *speed;
}

std::string DurationText(double seconds) {
    constexpr double kLongest = 100.0 * 3600.0;
    if (!(seconds >= 0) || seconds >= kLongest) return "?";
    const long whole = std::lround(std::ceil(seconds));
    char text[32];
    if (whole < 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    }
    return text;
}

std::string SpeedTipText(std::optional<double> bytesPerSecond, std::optional<double> secondsLeft) {
    if (!bytesPerSecond) return "";
    // Its own buffer: textBuffer belongs to the column texts.
    char size[32];
    FormatSize(size, static_cast<std::uint64_t>(std::llround(*bytesPerSecond)));
    std::string text = "Speed: ";
    text += size;
    text += "/s\nTime left: ";
    text += secondsLeft ? DurationText(*secondsLeft) : "?";
    return text;
}

std::string SpeedShortText(std::optional<double> bytesPerSecond,
                           std::optional<double> secondsLeft) {
    if (!bytesPerSecond) return "";
    char size[32];
    FormatSize(size, static_cast<std::uint64_t>(std::llround(*bytesPerSecond)));
    std::string text = size;
    text += "/s";
    if (secondsLeft) {
        const std::string left = DurationText(*secondsLeft);
        if (left != "?") text += " " + left;
    }
    return text;
}
