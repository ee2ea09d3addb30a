// Termination signals become a byte on a pipe instead of ending the process.
#include "shutdown_signals.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <csignal>

namespace {

bool Readable(int fd) {
    pollfd watch{fd, POLLIN, 0};
    return ::poll(&watch, 1, 0) == 1 && (watch.revents & POLLIN) != 0;
}

volatile sig_atomic_t earlierHandlerRan = 0;
void EarlierHandler(int) { earlierHandlerRan = 1; }

TEST(ShutdownSignalsTest, EachSignalIsReportedThroughThePipe) {
    int fd = InstallShutdownSignals();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(InstallShutdownSignals(), fd);
    EXPECT_FALSE(Readable(fd));
    EXPECT_EQ(TakeShutdownSignal(), 0);

    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        ASSERT_EQ(::raise(signal), 0);  // the process goes on
        EXPECT_TRUE(Readable(fd)) << signal;
        EXPECT_EQ(TakeShutdownSignal(), signal);
        EXPECT_FALSE(Readable(fd)) << signal;
    }

    // Many signals before the loop looks: the pipe never blocks the handler,
    // and one look empties it.
    for (int i = 0; i < 70000; ++i) ::raise(SIGINT);
    ::raise(SIGTERM);
    EXPECT_EQ(TakeShutdownSignal(), SIGTERM);
    EXPECT_FALSE(Readable(fd));
    RemoveShutdownSignals();
}

TEST(ShutdownSignalsTest, RemovingPutsBackTheEarlierHandlers) {
    struct sigaction earlier {
    }, saved{};
    earlier.sa_handler = EarlierHandler;
    sigemptyset(&earlier.sa_mask);
    ASSERT_EQ(::sigaction(SIGHUP, &earlier, &saved), 0);

    ASSERT_GE(InstallShutdownSignals(), 0);
    ::raise(SIGHUP);
    EXPECT_EQ(earlierHandlerRan, 0);
    EXPECT_EQ(TakeShutdownSignal(), SIGHUP);

    RemoveShutdownSignals();
    EXPECT_EQ(TakeShutdownSignal(), 0);
    ::raise(SIGHUP);
    EXPECT_EQ(earlierHandlerRan, 1);
    ::sigaction(SIGHUP, &saved, nullptr);
}

}  // namespace
