// Thread handles: signalled only once the procedure has returned, exit codes, closing.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "brindlex/vhandle.h"
#include "thread_pool.h"

namespace {

struct Closer {
    void operator()(VWaitable* h) const { VCloseHandle(h); }
};
using Handle = std::unique_ptr<VWaitable, Closer>;

bool Readable(VHANDLE h) {
    pollfd p{VHandleFd(h), POLLIN, 0};
    return poll(&p, 1, 0) == 1;
}

// Sets an event when destroyed: tells a test that a procedure's captures were freed.
struct SetOnDestroy {
    VHANDLE event;
    ~SetOnDestroy() { VSetEvent(event); }
};

TEST(VThread, SignalledOnlyAfterTheProcedureReturned) {
    Handle gate(VCreateEvent(true, false));
    int written = 0;  // plain memory: the handle's signal must publish it
    Handle thread(VCreateThread([&] {
        VWait(gate.get(), V_INFINITE);
        written = 99;
        return 42UL;
    }));
    ASSERT_NE(thread, nullptr);

    unsigned long code = 0;
    EXPECT_FALSE(VGetExitCode(thread.get(), &code));
    EXPECT_FALSE(VIsSignalled(thread.get()));
    EXPECT_FALSE(Readable(thread.get()));
    EXPECT_EQ(VWait(thread.get(), 20), VWAIT_TIMEOUT);

    VSetEvent(gate.get());
    EXPECT_EQ(VWait(thread.get(), V_INFINITE), VWAIT_SIGNALLED);
    EXPECT_EQ(written, 99);
    ASSERT_TRUE(VGetExitCode(thread.get(), &code));
    EXPECT_EQ(code, 42u);
    // Ended threads stay signalled for every waiter and cannot be set or reset.
    EXPECT_EQ(VWait(thread.get(), 0), VWAIT_SIGNALLED);
    EXPECT_TRUE(Readable(thread.get()));
    EXPECT_FALSE(VResetEvent(thread.get()));
    EXPECT_FALSE(VSetEvent(thread.get()));
    EXPECT_TRUE(VIsSignalled(thread.get()));
}

TEST(VThread, ExitCodeOnlyForThreads) {
    Handle event(VCreateEvent(true, true));
    unsigned long code = 5;
    EXPECT_FALSE(VGetExitCode(event.get(), &code));
    EXPECT_EQ(code, 5u);
    Handle thread(VCreateThread([] { return 0xFFFFFFFFUL; }));
    ASSERT_EQ(VWait(thread.get(), V_INFINITE), VWAIT_SIGNALLED);
    EXPECT_FALSE(VGetExitCode(thread.get(), nullptr));
    ASSERT_TRUE(VGetExitCode(thread.get(), &code));
    EXPECT_EQ(code, 0xFFFFFFFFUL);
}

// The handle goes first; the thread finishes later and frees what it held.
TEST(VThread, ClosingARunningThreadIsSafe) {
    Handle gate(VCreateEvent(true, false));
    Handle released(VCreateEvent(true, false));
    auto token = std::make_shared<SetOnDestroy>(released.get());
    VHANDLE thread = VCreateThread([&gate, token] {
        VWait(gate.get(), V_INFINITE);
        return 1UL;
    });
    ASSERT_NE(thread, nullptr);
    token.reset();
    VCloseHandle(thread);
    EXPECT_FALSE(VIsSignalled(released.get()));
    VSetEvent(gate.get());
    EXPECT_EQ(VWait(released.get(), 10000), VWAIT_SIGNALLED);
}

// Many short threads closed at random points of their lives: the sanitizers watch
// for use after free and leaks of the shared state.
TEST(VThread, CreateAndCloseManyNeverHangs) {
    for (int i = 0; i < 300; ++i) {
        VHANDLE thread = VCreateThread([i] { return static_cast<unsigned long>(i); });
        ASSERT_NE(thread, nullptr);
        if (i % 3 == 0) VWait(thread, V_INFINITE);
        VCloseHandle(thread);
    }
}

TEST(VThread, ThreadMayCloseItsOwnHandle) {
    Handle done(VCreateEvent(true, false));
    std::atomic<VHANDLE> self{nullptr};
    Handle gate(VCreateEvent(true, false));
    VHANDLE thread = VCreateThread([&] {
        VWait(gate.get(), V_INFINITE);
        VCloseHandle(self.load());
        VSetEvent(done.get());
        return 0UL;
    });
    ASSERT_NE(thread, nullptr);
    self = thread;
    VSetEvent(gate.get());
    EXPECT_EQ(VWait(done.get(), 10000), VWAIT_SIGNALLED);
}

// Hundreds of threads held at once, all released by one manual event.
TEST(VThread, HundredsOfThreadsReleasedByOneEvent) {
    constexpr int kCount = 200;
    Handle gate(VCreateEvent(true, false));
    std::vector<Handle> threads;
    for (int i = 0; i < kCount; ++i) {
        threads.emplace_back(VCreateThread(
            [&gate, i] { return VWait(gate.get(), 10000) == VWAIT_SIGNALLED ? 1000UL + i : 0UL; }));
        ASSERT_NE(threads.back(), nullptr) << i;
    }
    VSetEvent(gate.get());
    for (int i = 0; i < kCount; ++i) {
        ASSERT_EQ(VWait(threads[i].get(), V_INFINITE), VWAIT_SIGNALLED);
        unsigned long code = 0;
        ASSERT_TRUE(VGetExitCode(threads[i].get(), &code));
        EXPECT_EQ(code, 1000UL + i);
    }
}

// A queue of small files starts runs by the hundred a second, two threads each:
// procedures started one after another run on the threads of the ones that
// ended, not on a new thread each. Idle threads end by themselves, and a fork
// finds none (the child starts threads of its own).
bool PoolEmptiesWithinItsIdleTime() {
    const auto limit = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(brindlex::kPoolIdleMs + 5000);
    while (brindlex::PoolThreadCount() != 0 && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return brindlex::PoolThreadCount() == 0;
}

TEST(VThread, EndedThreadsServeTheNextProcedures) {
    // Threads left by the tests before (when they share the process) would take
    // the procedures in turn.
    ASSERT_TRUE(PoolEmptiesWithinItsIdleTime());
    std::set<unsigned long> threadIds;
    for (int i = 0; i < 20; ++i) {
        Handle thread(VCreateThread([] { return static_cast<unsigned long>(gettid()); }));
        ASSERT_NE(thread, nullptr);
        ASSERT_EQ(VWait(thread.get(), 10000), VWAIT_SIGNALLED);
        unsigned long id = 0;
        ASSERT_TRUE(VGetExitCode(thread.get(), &id));
        threadIds.insert(id);
        // Time for the thread to go back to waiting after it signalled its end.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_LE(threadIds.size(), 3u);
    EXPECT_GE(brindlex::PoolThreadCount(), 1);

    const pid_t child = fork();
    if (child == 0) {
        VHANDLE thread = VCreateThread([] { return 7UL; });
        unsigned long code = 0;
        const bool ran = thread != nullptr && VWait(thread, 5000) == VWAIT_SIGNALLED &&
                         VGetExitCode(thread, &code) && code == 7;
        _exit(ran ? 0 : 1);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(brindlex::PoolThreadCount(), 0);  // the fork retired the idle ones

    Handle again(VCreateThread([] { return 1UL; }));
    ASSERT_EQ(VWait(again.get(), 10000), VWAIT_SIGNALLED);
    EXPECT_TRUE(PoolEmptiesWithinItsIdleTime());
}

}  // namespace
