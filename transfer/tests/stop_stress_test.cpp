// Shutdown never hangs: a thousand runs are started and stopped, spread over
// every phase a run can be blocked in, and each stop must end its run within a
// few seconds. The sanitizer builds run this too, so nothing may leak or race,
// and the descriptors in use return to where they were.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "brindlex/vbrindlex.h"
#include "held_lookup.h"
#include "internet_test_util.h"
#include "network_thread.h"
#include "temp_dir.h"
#include "test_server.h"
#include "vwaitable.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using vtest::Route;
using vtest::TestServer;

// Plain, ASan and TSan builds all run every one: the runs spend most of their
// time blocked, so even TSan gets through them in seconds.
constexpr int kRuns = 1000;
// Runs in flight at once: the stops of blocked runs wait out their grace
// together instead of one after another.
constexpr int kBatch = 40;
// A hang detector, not a timing: a stop ends its run in well under a second.
constexpr auto kStopBound = 3s;

enum class Phase { AtOnce, Lookup, Connect, Headers, StalledBody, FlowingBody, Count };

const char* Name(Phase phase) {
    static const char* const kNames[] = {"at once", "lookup",       "connect",
                                         "headers", "stalled body", "flowing body"};
    return kNames[static_cast<int>(phase)];
}

// Those of ended events, kept for the next ones, are no leak.
int OpenDescriptors() {
    int count = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr) ++count;
        closedir(d);
    }
    return count - static_cast<int>(brindlex::KeptSignalFds());
}

bool Eventually(const std::function<bool()>& condition, Clock::duration limit = 10s) {
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

int Held() {
    std::lock_guard lock(lookupMutex);
    return held;
}

// Lets every held lookup fail and waits until none is left in the stand-in, so
// no lookup thread outlives its batch.
void ReleaseLookups() {
    std::unique_lock lock(lookupMutex);
    released = true;
    lookupChanged.notify_all();
    lookupChanged.wait(lock, [] { return held == 0; });
    released = false;
}

struct Slot {
    Phase phase;
    std::string out;
    std::unique_ptr<VBRINDLEX> t;
    Clock::time_point stoppedAt{};
};

TEST(StopStress, EveryStopEndsItsRunPromptly) {
    vtest::TempDir dir;
    TestServer server;
    server.Set("/at-once", Route{.size = 10'000'000, .bytesPerSecond = 100'000});
    server.Set("/headers", Route{.size = 1000, .neverAnswer = true});
    server.Set("/stall", Route{.size = 100'000, .stallAfter = 1000});
    server.Set("/flow", Route{.size = 10'000'000, .bytesPerSecond = 100'000});
    brindlex::net::testing::LocalPort neverConnecting(
        brindlex::net::testing::LocalPort::NeverConnecting);
    const std::string name = LoopbackNameFromHosts();
    {
        std::lock_guard lock(lookupMutex);
        heldName = name;
    }
    std::array<std::string, static_cast<int>(Phase::Count)> urls = {
        server.Url("/at-once"),
        "http://" + name + ":" + std::to_string(neverConnecting.port()) + "/",
        "http://127.0.0.1:" + std::to_string(neverConnecting.port()) + "/",
        server.Url("/headers"),
        server.Url("/stall"),
        server.Url("/flow"),
    };
    // The library's network thread holds a wake-up pipe for the life of the
    // process: one run starts it before the count.
    {
        const vtest::TempDir warmDir;
        const std::string warmOut = warmDir / "warm";
        VBRINDLEX warm;
        warm.SetURL(server.Url("/warm").c_str());  // a quick 404
        warm.SetDataReceptor(reinterpret_cast<std::uintptr_t>(warmOut.c_str()));
        warm.Go();
    }
    const int descriptorsBefore = OpenDescriptors();

    std::size_t headerRequests = 0;
    int phaseIndex = 0;
    // Longest time from a stop until its run was seen ended (runs are collected in
    // turn, so this is an upper bound), per phase: shown, not judged.
    std::array<Clock::duration, static_cast<int>(Phase::Count)> longest{};
    for (int started = 0; started < kRuns; started += kBatch) {
        std::vector<Slot> slots;
        slots.reserve(kBatch);
        int lookups = 0;
        for (int i = 0; i < kBatch && started + i < kRuns; ++i) {
            auto phase = static_cast<Phase>(phaseIndex++ % static_cast<int>(Phase::Count));
            if (phase == Phase::Lookup && name.empty()) phase = Phase::Connect;
            // In place, never moved again (reserved): the run holds the file name.
            Slot& slot = slots.emplace_back(
                Slot{phase, dir / std::to_string(i), std::make_unique<VBRINDLEX>()});
            std::remove(slot.out.c_str());
            slot.t->SetURL(urls[static_cast<int>(phase)].c_str());
            slot.t->SetDataReceptor(reinterpret_cast<std::uintptr_t>(slot.out.c_str()));
            if (slot.t->GoAsync() == nullptr) {
                ADD_FAILURE() << "no run thread";
                slots.pop_back();
                continue;
            }
            if (phase == Phase::AtOnce) {
                // Before the run has done anything, or while it opens.
                slot.stoppedAt = Clock::now();
                slot.t->StopAsync();
            }
            if (phase == Phase::Lookup) ++lookups;
            if (phase == Phase::Headers) ++headerRequests;
        }

        // Let each run get to where it is meant to be blocked.
        for (Slot& slot : slots) {
            VBRINDLEX& t = *slot.t;
            bool there = true;
            switch (slot.phase) {
                case Phase::AtOnce:
                    continue;
                case Phase::Lookup:
                    there = Eventually([&] { return Held() >= lookups; });
                    break;
                case Phase::Connect:
                    there = Eventually([&] { return t.status.load() == STATUS_REQUEST; });
                    break;
                case Phase::Headers:
                    there = Eventually(
                        [&] { return server.RequestsFor("/headers").size() >= headerRequests; });
                    break;
                case Phase::StalledBody:
                    there = Eventually([&] { return t.status.load() >= 1000; });
                    break;
                case Phase::FlowingBody:
                    there = Eventually([&] { return t.status.load() > 0; });
                    break;
                case Phase::Count:
                    break;
            }
            EXPECT_TRUE(there) << Name(slot.phase) << " never got there";
            EXPECT_EQ(VWait(t.thread, 0), VWAIT_TIMEOUT) << Name(slot.phase) << " ended by itself";
        }

        const auto stoppedAt = Clock::now();
        for (Slot& slot : slots) {
            if (slot.phase == Phase::AtOnce) continue;
            slot.stoppedAt = stoppedAt;
            slot.t->StopAsync();
        }
        for (Slot& slot : slots) {
            VBRINDLEX& t = *slot.t;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                slot.stoppedAt + kStopBound - Clock::now());
            if (VWait(t.thread, static_cast<unsigned long>(std::max<long long>(left.count(), 0))) !=
                VWAIT_SIGNALLED) {
                ADD_FAILURE() << "a stop in phase " << Name(slot.phase) << " did not end its run";
                // Left to its run, which still uses it, so the test reports instead of hanging.
                slot.t.release();
                continue;
            }
            auto& worst = longest[static_cast<int>(slot.phase)];
            worst = std::max(worst, Clock::now() - slot.stoppedAt);
            EXPECT_EQ(t.result.load(), RESULT_INTERRUPTED) << Name(slot.phase);
            EXPECT_EQ(t.status.load(), STATUS_FAILED) << Name(slot.phase);
            struct stat st {};
            const std::uint64_t length =
                stat(slot.out.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
            // The bytes that arrived before the stop are kept, and only those.
            EXPECT_EQ(length, t.received.load()) << Name(slot.phase);
        }
        // The runs have ended, but the removals of their transfers may still be
        // on their way to the network thread. A lookup let go while libcurl 7.88
        // removes its transfer can meet a race in libcurl's own resolver clean-up
        // (it detaches the lookup thread after dropping its lock; fixed in later
        // versions): the lookups go only once every removal is done.
        EXPECT_TRUE(brindlex::net::WaitForNetworkIdle(10s));
        ReleaseLookups();
        if (HasFailure()) break;  // one report per fault, not one per batch
    }

    {
        std::lock_guard lock(lookupMutex);
        heldName.clear();
    }
    for (int p = 0; p < static_cast<int>(Phase::Count); ++p) {
        std::printf("longest stop until collected, %s: %lld ms\n", Name(static_cast<Phase>(p)),
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(longest[p]).count()));
    }
    // Every run closed its sockets and events; the server closes its side once it
    // sees ours go.
    EXPECT_TRUE(Eventually([&] { return OpenDescriptors() <= descriptorsBefore; }))
        << OpenDescriptors() << " descriptors open, " << descriptorsBefore << " before";
}

}  // namespace
