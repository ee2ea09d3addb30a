// Events and thread handles: reset semantics, the descriptor mirror, waits, threads.
#include "brindlex/vhandle.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

bool Readable(VHANDLE h) {
    pollfd p{VHandleFd(h), POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

// The eventfd counter as the kernel reports it, read without touching the descriptor.
long long Counter(VHANDLE h) {
    std::ifstream info("/proc/self/fdinfo/" + std::to_string(VHandleFd(h)));
    std::string key;
    while (info >> key) {
        if (key == "eventfd-count:") {
            std::string hex;
            info >> hex;
            return std::stoll(hex, nullptr, 16);
        }
    }
    return -1;
}

// A counter that drifted from the flag makes a later Clear block for ever: turn such a
// hang into a failure. The limit is far beyond any sound run.
void FinishesOrAbort(const std::function<void()>& body) {
    std::packaged_task<void()> task(body);
    std::future<void> finished = task.get_future();
    std::thread runner(std::move(task));
    if (finished.wait_for(std::chrono::seconds(60)) == std::future_status::timeout) {
        std::fprintf(stderr, "hung: a clear is waiting for a signal that never comes\n");
        std::abort();
    }
    runner.join();
}

struct Closer {
    void operator()(VWaitable* h) const { VCloseHandle(h); }
};
using Handle = std::unique_ptr<VWaitable, Closer>;

TEST(VHandle, NullHandlesAreNeverWaitedOn) {
    unsigned long code = 7;
    EXPECT_FALSE(VSetEvent(nullptr));
    EXPECT_FALSE(VResetEvent(nullptr));
    EXPECT_FALSE(VIsSignalled(nullptr));
    EXPECT_EQ(VWait(nullptr, 0), VWAIT_FAILED);
    EXPECT_EQ(VWait(nullptr, V_INFINITE), VWAIT_FAILED);
    EXPECT_EQ(VHandleFd(nullptr), -1);
    EXPECT_FALSE(VGetExitCode(nullptr, &code));
    EXPECT_EQ(code, 7u);
    VCloseHandle(nullptr);
    EXPECT_EQ(VCreateThread({}), nullptr);
}

// After each step: is the handle signalled (flag, descriptor and counter agree)?
enum class Op { kSet, kReset, kWait0 };
struct Step {
    Op op;
    unsigned long waitResult;  // for kWait0
    bool signalledAfter;
};
struct ResetCase {
    const char* name;
    bool manual;
    bool initial;
    std::vector<Step> steps;
};

TEST(VHandle, ResetSemanticsAndDescriptorMirror) {
    const unsigned long S = VWAIT_SIGNALLED, T = VWAIT_TIMEOUT;
    const std::vector<ResetCase> cases = {
        {"auto, a wait consumes",
         false,
         false,
         {{Op::kWait0, T, false},
          {Op::kSet, 0, true},
          {Op::kWait0, S, false},
          {Op::kWait0, T, false}}},
        {"auto, sets coalesce",
         false,
         false,
         {{Op::kSet, 0, true},
          {Op::kSet, 0, true},
          {Op::kSet, 0, true},
          {Op::kWait0, S, false},
          {Op::kWait0, T, false}}},
        {"auto, initially set", false, true, {{Op::kWait0, S, false}, {Op::kReset, 0, false}}},
        {"auto, reset",
         false,
         false,
         {{Op::kSet, 0, true}, {Op::kReset, 0, false}, {Op::kWait0, T, false}}},
        {"manual, stays set",
         true,
         false,
         {{Op::kSet, 0, true},
          {Op::kWait0, S, true},
          {Op::kWait0, S, true},
          {Op::kSet, 0, true},
          {Op::kReset, 0, false},
          {Op::kWait0, T, false}}},
        {"manual, initially set",
         true,
         true,
         {{Op::kWait0, S, true},
          {Op::kReset, 0, false},
          {Op::kReset, 0, false},
          {Op::kSet, 0, true}}},
    };
    for (const ResetCase& c : cases) {
        SCOPED_TRACE(c.name);
        Handle h(VCreateEvent(c.manual, c.initial));
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(VIsSignalled(h.get()), c.initial);
        EXPECT_EQ(Readable(h.get()), c.initial);
        for (size_t i = 0; i < c.steps.size(); ++i) {
            SCOPED_TRACE("step " + std::to_string(i));
            const Step& s = c.steps[i];
            switch (s.op) {
                case Op::kSet:
                    EXPECT_TRUE(VSetEvent(h.get()));
                    break;
                case Op::kReset:
                    EXPECT_TRUE(VResetEvent(h.get()));
                    break;
                case Op::kWait0:
                    EXPECT_EQ(VWait(h.get(), 0), s.waitResult);
                    break;
            }
            EXPECT_EQ(VIsSignalled(h.get()), s.signalledAfter);
            EXPECT_EQ(Readable(h.get()), s.signalledAfter);
            // A set of a set event must not write again: the counter never passes 1.
            EXPECT_EQ(Counter(h.get()), s.signalledAfter ? 1 : 0);
        }
    }
}

TEST(VHandle, WaitTimesOutNoSoonerThanAsked) {
    for (bool manual : {false, true}) {
        Handle h(VCreateEvent(manual, false));
        const auto start = Clock::now();
        EXPECT_EQ(VWait(h.get(), 60), VWAIT_TIMEOUT);
        const auto took = Clock::now() - start;
        EXPECT_GE(took, milliseconds(60));
        EXPECT_LT(took, milliseconds(5000));  // generous: only catches a wait that never ends
    }
}

// Waits of every length, including ones that do not fit poll's int, must wake on a set.
TEST(VHandle, WaitWakesWhenSetFromAnotherThread) {
    for (unsigned long timeout : {10000UL, 3000000000UL, 0xFFFFFFFEUL, V_INFINITE, ~0UL}) {
        for (bool manual : {false, true}) {
            SCOPED_TRACE(std::to_string(timeout) + (manual ? " manual" : " auto"));
            Handle h(VCreateEvent(manual, false));
            unsigned long result = 12345;
            std::thread waiter([&] { result = VWait(h.get(), timeout); });
            std::this_thread::sleep_for(milliseconds(5));  // usually lets the waiter block
            VSetEvent(h.get());
            waiter.join();
            EXPECT_EQ(result, VWAIT_SIGNALLED);
            EXPECT_EQ(VIsSignalled(h.get()), manual);
        }
    }
}

// One set of an automatic event wakes exactly one waiter; a manual event wakes all.
TEST(VHandle, OneSetWakesOneAutoWaiterOrAllManualWaiters) {
    for (bool manual : {false, true}) {
        SCOPED_TRACE(manual ? "manual" : "auto");
        Handle h(VCreateEvent(manual, false));
        std::atomic<int> woken{0}, timedOut{0};
        std::vector<std::thread> waiters;
        for (int i = 0; i < 4; ++i) {
            waiters.emplace_back([&] {
                const unsigned long r = VWait(h.get(), 300);
                (r == VWAIT_SIGNALLED ? woken : timedOut)++;
            });
        }
        VSetEvent(h.get());
        for (std::thread& t : waiters) t.join();
        EXPECT_EQ(woken.load(), manual ? 4 : 1);
        EXPECT_EQ(timedOut.load(), manual ? 0 : 3);
        EXPECT_EQ(Counter(h.get()), manual ? 1 : 0);
    }
}

void IgnoreSignal(int) {}

TEST(VHandle, WaitSurvivesInterruptions) {
    struct sigaction action {};
    action.sa_handler = IgnoreSignal;  // no SA_RESTART: poll fails with EINTR
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    Handle h(VCreateEvent(false, false));
    std::atomic<bool> done{false};
    unsigned long result = 0;
    Clock::duration took{};
    std::thread waiter([&] {
        const auto start = Clock::now();
        result = VWait(h.get(), 150);
        took = Clock::now() - start;
        done = true;
    });
    while (!done) {
        pthread_kill(waiter.native_handle(), SIGUSR1);
        std::this_thread::sleep_for(milliseconds(2));
    }
    waiter.join();
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(result, VWAIT_TIMEOUT);
    EXPECT_GE(took, milliseconds(150));
}

// Producers publish a count then set; the consumer must always come to see the last
// count (a lost signal shows as a time-out), and at rest the counter equals the flag.
TEST(VHandle, ConcurrentSetsNeverLoseTheLastSignal) {
    constexpr int kProducers = 4, kSetsEach = 20000, kTotal = kProducers * kSetsEach;
    Handle h(VCreateEvent(false, false));
    std::atomic<int> produced{0};
    FinishesOrAbort([&] {
        std::vector<std::thread> producers;
        for (int p = 0; p < kProducers; ++p) {
            producers.emplace_back([&] {
                for (int i = 0; i < kSetsEach; ++i) {
                    produced.fetch_add(1, std::memory_order_relaxed);
                    VSetEvent(h.get());
                }
            });
        }
        int seen = 0;
        for (int round = 0; seen < kTotal; ++round) {
            // Alternate a blocking wait with the owner's test-without-waiting.
            const bool test = round % 2 == 1;
            const unsigned long r = VWait(h.get(), test ? 0 : 10000);
            if (test && r == VWAIT_TIMEOUT) continue;
            if (r != VWAIT_SIGNALLED) {
                ADD_FAILURE() << "signal lost with " << seen << " of " << kTotal << " seen";
                break;
            }
            seen = produced.load(std::memory_order_relaxed);
        }
        for (std::thread& t : producers) t.join();
    });
    EXPECT_EQ(Counter(h.get()), VIsSignalled(h.get()) ? 1 : 0);
    EXPECT_EQ(Readable(h.get()), VIsSignalled(h.get()));
}

// Setters and resetters racing on a manual event leave the descriptor in step, round
// after round (a drifted counter also hangs a later reset: FinishesOrAbort).
TEST(VHandle, RacingSetsAndResetsKeepDescriptorInStep) {
    Handle h(VCreateEvent(true, false));
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        FinishesOrAbort([&] {
            std::vector<std::thread> threads;
            for (int t = 0; t < 4; ++t) {
                threads.emplace_back([&, t] {
                    for (int i = 0; i < 10000; ++i) {
                        if ((t + i) % 2) {
                            VSetEvent(h.get());
                        } else {
                            VResetEvent(h.get());
                        }
                    }
                });
            }
            for (std::thread& t : threads) t.join();
        });
        const bool set = VIsSignalled(h.get());
        ASSERT_EQ(Counter(h.get()), set ? 1 : 0);
        ASSERT_EQ(Readable(h.get()), set);
        ASSERT_EQ(VWait(h.get(), 0), set ? VWAIT_SIGNALLED : VWAIT_TIMEOUT);
    }
}

TEST(VHandle, HundredsOfEventsWatchedAtOnce) {
    constexpr int kCount = 600;
    std::vector<Handle> events;
    std::vector<pollfd> fds;
    for (int i = 0; i < kCount; ++i) {
        events.emplace_back(VCreateEvent(i % 2 == 0, false));
        ASSERT_NE(events.back(), nullptr) << i;
        if (i % 3 == 0) VSetEvent(events.back().get());
        fds.push_back({VHandleFd(events.back().get()), POLLIN, 0});
    }
    EXPECT_EQ(poll(fds.data(), fds.size(), 0), kCount / 3);
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ((fds[i].revents & POLLIN) != 0, i % 3 == 0) << i;
    }
}

// Ended handles hand their descriptors on: whatever state a handle ended in, the
// next ones start clear, and after a fork neither side gets a descriptor whose
// counter the other side still shares.
TEST(VHandle, HandlesAfterClosedOnesStartClearOnBothSidesOfAFork) {
    const std::function<void()> endings[] = {
        [] { VCloseHandle(VCreateEvent(false, false)); },
        [] { VCloseHandle(VCreateEvent(false, true)); },
        [] { VCloseHandle(VCreateEvent(true, true)); },
        [] {
            VHANDLE thread = VCreateThread([] { return 0UL; });
            VWait(thread, V_INFINITE);
            VCloseHandle(thread);
        },
    };
    for (std::size_t i = 0; i < std::size(endings); ++i) {
        for (int round = 0; round < 3; ++round) endings[i]();
        for (const bool manual : {false, true}) {
            Handle fresh(VCreateEvent(manual, false));
            ASSERT_NE(fresh, nullptr);
            EXPECT_EQ(Counter(fresh.get()), 0) << i;
            EXPECT_FALSE(Readable(fresh.get())) << i;
        }
    }
    // The parent keeps descriptors of ended handles; a child that made and set
    // handles of its own must not make the parent's next handle readable.
    for (int round = 0; round < 8; ++round) VCloseHandle(VCreateEvent(true, false));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (int round = 0; round < 8; ++round) VSetEvent(VCreateEvent(true, false));
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    for (int round = 0; round < 8; ++round) {
        Handle fresh(VCreateEvent(true, false));
        EXPECT_FALSE(Readable(fresh.get())) << round;
    }
}

}  // namespace
