// Speed limits: the process-wide one alone and shared by two runs, an object's
// own, a change in the middle of a run, and a stop while a run is held back.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "brindlex/vbrindlex.h"
#include "seams.h"
#include "temp_dir.h"
#include "test_server.h"

using vtest::Route;
using vtest::TestServer;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint64_t kKiB = 1024;

class SpeedLimitTest : public ::testing::Test {
protected:
    void TearDown() override {
        VSetSpeedLimit(0);
        brindlex::seams::watchPeriodMs.store(brindlex::seams::kWatchPeriodMs);
    }

    // A run of its own on `size` bytes, started at once.
    std::unique_ptr<VBRINDLEX> Start(std::uint64_t size, std::uint64_t ownLimit = 0) {
        const std::string name = "/f" + std::to_string(runs_.size());
        server_.Set(name, Route{.size = size});
        auto t = std::make_unique<VBRINDLEX>();
        urls_.push_back(server_.Url(name));
        files_.push_back(dir_ / name.substr(1));
        t->SetURL(urls_.back().c_str());
        t->SetDataReceptor(reinterpret_cast<std::uintptr_t>(files_.back().c_str()));
        t->speedLimit.store(ownLimit);
        runs_.push_back(t.get());
        EXPECT_NE(t->GoAsync(), nullptr);
        return t;
    }

    static double SecondsToEnd(VBRINDLEX& t, Clock::time_point start) {
        EXPECT_EQ(VWait(t.thread, 30000), VWAIT_SIGNALLED);
        EXPECT_EQ(t.result.load(), RESULT_OK);
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

    vtest::TempDir dir_;
    TestServer server_;
    std::vector<std::string> urls_;
    std::vector<std::string> files_;
    std::vector<VBRINDLEX*> runs_;
};

// Bytes over the limit's rate take about their time: within 30% of 2 s.
TEST_F(SpeedLimitTest, RunsKeepToTheLimitAndShareItEvenly) {
    const struct {
        const char* name;
        std::uint64_t processLimit;
        std::uint64_t ownLimit;
        int runs;
    } cases[] = {
        {"process-wide, one run", 256 * kKiB, 0, 1},
        {"process-wide, two runs", 256 * kKiB, 0, 2},
        {"the object's own", 0, 256 * kKiB, 1},
        {"the lower of the two", 4096 * kKiB, 256 * kKiB, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VSetSpeedLimit(c.processLimit);
        // Two seconds at the limit, shared by every run.
        const std::uint64_t each = 512 * kKiB / static_cast<std::uint64_t>(c.runs);
        const auto start = Clock::now();
        std::vector<std::unique_ptr<VBRINDLEX>> runs;
        for (int i = 0; i < c.runs; ++i) runs.push_back(Start(each, c.ownLimit));
        // Even sharing: every run ends near the end of the two seconds, not
        // one of them after one.
        for (auto& run : runs) {
            const double seconds = SecondsToEnd(*run, start);
            EXPECT_GT(seconds, 1.4);
            EXPECT_LT(seconds, 2.6);
        }
    }
}

TEST_F(SpeedLimitTest, AChangeAppliesAtOnceToARunInProgress) {
    VSetSpeedLimit(2 * kKiB);
    const auto start = Clock::now();
    auto run = Start(256 * kKiB);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LT(run->received.load(), 32 * kKiB);
    VSetSpeedLimit(0);
    EXPECT_LT(SecondsToEnd(*run, start), 1.5);
}

// The watchdog never takes a held-back run for a stalled one, and a stop ends
// it within a second.
TEST_F(SpeedLimitTest, AHeldBackRunIsAliveAndStopsAtOnce) {
    brindlex::seams::watchPeriodMs.store(200);
    auto run = Start(1024 * kKiB, kKiB);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_GE(run->status.load(), 0);  // still receiving, several periods on
    EXPECT_LT(run->received.load(), 64 * kKiB);
    const auto stopped = Clock::now();
    run->StopAsync();
    ASSERT_EQ(VWait(run->thread, 5000), VWAIT_SIGNALLED);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - stopped).count(), 1.0);
    EXPECT_EQ(run->result.load(), RESULT_INTERRUPTED);
}

}  // namespace
