// Termination signals become a byte on a pipe instead of ending the process.
#include "shutdown_signals.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

namespace {

bool Readable(int fd) {
    pollfd watch{fd, POLLIN, 0};
    return ::poll(&watch, 1, 0) == 1 && (watch.revents & POLLIN) != 0;
}

// What /proc says descriptor `fd` is ("pipe:[1234]"), or "" when it is closed.
std::string LinkOf(int fd) {
    char target[256];
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
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

// A handler on another thread may have read the write end just before the
// removal: closing it would let a file opened next take its number and get the
// handler's byte. So the pipe outlives the handlers, and comes back on reinstall.
TEST(ShutdownSignalsTest, RemovingKeepsThePipeTheHandlerWritesTo) {
    const int readFd = InstallShutdownSignals();
    ASSERT_GE(readFd, 0);
    const std::string pipe = LinkOf(readFd);
    int writeFd = -1;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename().string());
        if (fd != readFd && LinkOf(fd) == pipe) writeFd = fd;
    }
    ASSERT_GE(writeFd, 0);
    RemoveShutdownSignals();
    EXPECT_EQ(LinkOf(writeFd), pipe);
    EXPECT_EQ(InstallShutdownSignals(), readFd);
    ::raise(SIGTERM);
    EXPECT_EQ(TakeShutdownSignal(), SIGTERM);
    RemoveShutdownSignals();
}

}  // namespace
