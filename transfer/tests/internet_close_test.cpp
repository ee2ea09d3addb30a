// Closing handles from another thread: a pending call fails promptly in every
// phase, calls on closed handles fail at once, and nothing is freed under a user.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "internet_close_harness.h"
#include "internet_test_util.h"
#include "test_server.h"

namespace brindlex::net {
namespace {

using namespace std::chrono_literals;
using testing::Clock;
using testing::Closed;
using testing::CloseWhileBlocked;
using testing::Eventually;
using testing::Handles;
using testing::kPrompt;
using vtest::Route;
using vtest::TestServer;

TEST(InternetClose, EndsACallBlockedInConnect) {
    testing::LocalPort port(testing::LocalPort::NeverConnecting);
    for (Closed which : {Closed::Request, Closed::Session}) {
        Handles h("http://127.0.0.1:" + std::to_string(port.port()) + "/");
        const auto start = Clock::now();
        // Nothing shows a connect in progress from outside; give it time to get there.
        auto elapsed = CloseWhileBlocked(
            h, which, [](VHINTERNET request) { return HttpSendRequest(request, ""); },
            [&] { return Clock::now() - start > 300ms; });
        EXPECT_LT(elapsed, kPrompt);
    }
}

TEST(InternetClose, EndsACallBlockedInTheTlsHandshake) {
    TestServer server(TestServer::Mode::Https);
    testing::TrustCa trust(server.CaFile());
    server.SetSilent(true);
    Handles h(server.Url("/"));
    auto elapsed = CloseWhileBlocked(
        h, Closed::Request, [](VHINTERNET request) { return HttpSendRequest(request, ""); },
        [&] { return server.AcceptedConnections() > 0; });
    EXPECT_LT(elapsed, kPrompt);
}

TEST(InternetClose, EndsACallWaitingForTheHeaders) {
    TestServer server;
    Route route;
    route.neverAnswer = true;
    server.Set("/wait", route);
    for (Closed which : {Closed::Request, Closed::Connection}) {
        Handles h(server.Url("/wait"));
        const std::size_t before = server.Requests().size();
        auto elapsed = CloseWhileBlocked(
            h, which, [](VHINTERNET request) { return HttpSendRequest(request, ""); },
            [&] { return server.Requests().size() > before; });
        EXPECT_LT(elapsed, kPrompt);
    }
}

TEST(InternetClose, EndsAReadWaitingForTheBody) {
    TestServer server;
    Route route;
    route.size = 5000;
    route.stallAfter = 1000;
    server.Set("/stall", route);
    for (Closed which : {Closed::Request, Closed::Connection, Closed::Session}) {
        Handles h(server.Url("/stall"));
        ASSERT_TRUE(HttpSendRequest(h.request, ""));
        std::atomic<std::size_t> received{0};
        auto readAll = [&](VHINTERNET request) {
            char buf[256];
            std::size_t got = 0;
            while (InternetReadFile(request, buf, sizeof buf, &got) && got > 0) received += got;
            return false;
        };
        auto elapsed = CloseWhileBlocked(h, which, readAll, [&] { return received == 1000; });
        EXPECT_LT(elapsed, kPrompt);
    }
}

TEST(InternetClose, CallsOnClosedHandlesFailAtOnce) {
    TestServer server;
    server.Set("/f", Route{});
    {
        Handles h(server.Url("/f"));
        InternetRef session(h.session);
        InternetRetain(h.session);
        InternetCloseHandle(h.session);
        h.session = nullptr;
        EXPECT_EQ(InternetConnect(session.get(), "127.0.0.1", server.Port(), "", ""), nullptr);
        // Children of a closed session are closed too.
        EXPECT_EQ(HttpOpenRequest(h.connection, "/f", nullptr, false), nullptr);
        EXPECT_FALSE(HttpSendRequest(h.request, ""));
    }
    {
        Handles h(server.Url("/f"));
        ASSERT_TRUE(HttpSendRequest(h.request, ""));
        InternetRef request(h.request);
        InternetRetain(h.request);
        InternetCloseHandle(h.request);
        h.request = nullptr;
        char buf[16];
        std::size_t got = 0;
        unsigned long status = 0;
        EXPECT_FALSE(InternetReadFile(request.get(), buf, sizeof buf, &got));
        EXPECT_FALSE(HttpQueryStatusCode(request.get(), &status));
        EXPECT_FALSE(HttpQueryHeader(request.get(), "Content-Length", buf, sizeof buf));
    }
    EXPECT_EQ(server.Requests().size(), 1u);
    InternetCloseHandle(nullptr);  // does nothing
}

// Closes race with every moment of a transfer; whichever thread lets go last
// frees the handles. The sanitizer builds check that no one is left with freed
// memory and no close is lost.
TEST(InternetClose, ClosingAtAnyMomentIsSafe) {
    TestServer server;
    Route route;
    route.size = 64 * 1024;
    server.Set("/race", route);
    for (int i = 0; i < 60; ++i) {
        Handles h(server.Url("/race"));
        InternetRetain(h.request);
        std::thread worker([request = h.request] {
            InternetRef ref(request);
            char buf[256];
            std::size_t got = 0;
            if (HttpSendRequest(request, "")) {
                while (InternetReadFile(request, buf, sizeof buf, &got) && got > 0) {
                }
            }
        });
        std::this_thread::sleep_for(std::chrono::microseconds(i * 97 % 3000));
        InternetCloseHandle(h.request);
        h.request = nullptr;
        if (i % 2 == 0) {
            InternetCloseHandle(h.session);
            h.session = nullptr;
        }
        worker.join();
    }
}

}  // namespace
}  // namespace brindlex::net
