// The speed over the last seconds, the time left, and their tooltip text.
#include "speed_meter.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>
#include <vector>

namespace {

using Samples = std::vector<std::pair<double, std::uint64_t>>;

SpeedMeter Fed(const Samples& samples) {
    SpeedMeter meter;
    for (const auto& [seconds, bytes] : samples) meter.AddSample(seconds, bytes);
    return meter;
}

struct SpeedCase {
    const char* name;
    Samples samples;
    double now;
    std::optional<double> speed;
};

TEST(SpeedMeterTest, BytesPerSecondOverTheWindow) {
    const SpeedCase cases[] = {
        {"nothing yet", {}, 10, std::nullopt},
        {"one sample", {{10, 500}}, 12, std::nullopt},
        {"two samples at one time", {{10, 500}, {10, 900}}, 10, std::nullopt},
        {"younger than the window", {{10, 1000}, {12, 3000}}, 12, 1000.0},
        {"steady pace",
         {{0, 0}, {1, 100}, {2, 200}, {3, 300}, {4, 400}, {5, 500}, {6, 600}},
         6,
         100.0},
        // Fast at first, slow in the last five seconds: only the last five count.
        {"old burst forgotten",
         {{0, 0}, {1, 100000}, {2, 100010}, {4, 100030}, {6, 100050}, {8, 100070}},
         8,
         10.0},  // window [3, 8]: 100020 (interpolated) to 100070
        // No sample for two seconds: nothing arrived, the speed falls.
        {"stalling", {{0, 0}, {5, 5000}}, 7, 600.0},  // window [2, 7]: 2000 to 5000
        {"stalled a whole window", {{0, 0}, {5, 5000}}, 10.5, 0.0},
        {"no progress", {{0, 700}, {3, 700}}, 3, 0.0},
        {"now before the last sample counts as the last", {{0, 0}, {2, 2000}}, 1, 1000.0},
    };
    for (const SpeedCase& c : cases) {
        const SpeedMeter meter = Fed(c.samples);
        const std::optional<double> speed = meter.BytesPerSecond(c.now);
        ASSERT_EQ(speed.has_value(), c.speed.has_value()) << c.name;
        if (speed) {
            EXPECT_NEAR(*speed, *c.speed, 1e-9) << c.name;
        }
    }
}

TEST(SpeedMeterTest, ARestartedCountOrTimeStartsAfresh) {
    SpeedMeter meter = Fed({{0, 0}, {4, 40000}});
    meter.AddSample(5, 1000);  // fewer bytes: a new run of the job
    EXPECT_FALSE(meter.BytesPerSecond(5).has_value());
    meter.AddSample(6, 1500);
    EXPECT_NEAR(*meter.BytesPerSecond(6), 500.0, 1e-9);
    meter.AddSample(2, 1600);  // the clock went back
    EXPECT_FALSE(meter.BytesPerSecond(2).has_value());
    meter.Clear();
    EXPECT_FALSE(meter.BytesPerSecond(10).has_value());
}

TEST(SpeedMeterTest, LongRunsKeepOnlyWhatTheWindowNeeds) {
    SpeedMeter meter;
    // An hour at 30 samples a second and 1000 bytes a second.
    for (int i = 0; i <= 30 * 3600; ++i) {
        meter.AddSample(i / 30.0, static_cast<std::uint64_t>(i) * 1000 / 30);
    }
    EXPECT_NEAR(*meter.BytesPerSecond(3600), 1000.0, 0.1);
}

struct LeftCase {
    const char* name;
    Samples samples;
    std::uint64_t total;
    std::optional<double> left;
};

TEST(SpeedMeterTest, SecondsLeft) {
    const Samples steady = {{0, 0}, {5, 5000}};  // 1000 bytes a second
    const LeftCase cases[] = {
        {"known length", steady, 65000, 60.0},
        {"complete", steady, 5000, 0.0},
        {"more held than announced", steady, 4000, 0.0},
        {"length not given", steady, ~std::uint64_t{0}, std::nullopt},
        {"length not read yet", steady, 0, std::nullopt},
        {"no speed yet", {{0, 0}}, 9000, std::nullopt},
        {"not moving", {{0, 100}, {5, 100}}, 9000, std::nullopt},
    };
    for (const LeftCase& c : cases) {
        const std::optional<double> left = Fed(c.samples).SecondsLeft(5, c.total);
        ASSERT_EQ(left.has_value(), c.left.has_value()) << c.name;
        if (left) {
            EXPECT_NEAR(*left, *c.left, 1e-9) << c.name;
        }
    }
}

TEST(SpeedMeterTest, TipTexts) {
    EXPECT_EQ(DurationText(0), "0:00");
    EXPECT_EQ(DurationText(0.2), "0:01");  // never "0:00" while bytes are missing
    EXPECT_EQ(DurationText(65), "1:05");
    EXPECT_EQ(DurationText(3599), "59:59");
    EXPECT_EQ(DurationText(3600), "1:00:00");
    EXPECT_EQ(DurationText(3 * 3600 + 62), "3:01:02");
    EXPECT_EQ(DurationText(100 * 3600), "?");
    EXPECT_EQ(DurationText(-1), "?");

    EXPECT_EQ(SpeedTipText(std::nullopt, std::nullopt), "");
    EXPECT_EQ(SpeedTipText(1536.0, 125.0), "Speed: 1.50K/s\nTime left: 2:05");
    EXPECT_EQ(SpeedTipText(512.0, std::nullopt), "Speed: 512b/s\nTime left: ?");
    EXPECT_EQ(SpeedTipText(0.0, std::nullopt), "Speed: 0.00b/s\nTime left: ?");
}

}  // namespace
