// Closing a handle while a call on another thread waits on it, as the run
// thread's watchdog does to the fetch's worker.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "internet_test_util.h"

namespace brindlex::net::testing {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Waits for a condition another thread brings about; fails the test when it never
// comes.
inline bool Eventually(const std::function<bool()>& condition) {
    const auto deadline = Clock::now() + 10s;
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

enum class Closed { Request, Connection, Session };

inline VHINTERNET& Member(Handles& h, Closed which) {
    switch (which) {
        case Closed::Request:
            return h.request;
        case Closed::Connection:
            return h.connection;
        default:
            return h.session;
    }
}

// Runs `call` on a worker that holds its own references, as the fetch does (the
// call gets the worker's request, never the member the test closes), waits
// until `blocked` says the call is waiting, closes the handle of the chosen kind
// (the member's reference) and returns how long the call took to fail after that.
inline std::chrono::milliseconds CloseWhileBlocked(Handles& h, Closed which,
                                                   const std::function<bool(VHINTERNET)>& call,
                                                   const std::function<bool()>& blocked) {
    InternetRetain(h.session);
    InternetRetain(h.connection);
    InternetRetain(h.request);
    std::atomic<bool> returned{false};
    bool result = true;
    std::thread worker([&, s = h.session, c = h.connection, r = h.request] {
        InternetRef session(s), connection(c), request(r);
        result = call(request.get());
        returned = true;
    });
    EXPECT_TRUE(Eventually(blocked));
    EXPECT_FALSE(returned.load()) << "the call did not block";
    VHINTERNET& member = Member(h, which);
    const auto closedAt = Clock::now();
    InternetCloseHandle(member);
    member = nullptr;
    worker.join();
    EXPECT_FALSE(result);
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - closedAt);
}

// Well under the layer's 1 s poll cap: where nothing else ends libcurl's wait
// early (a connect that gets no answer), a close noticed by the cap alone and not
// by its wake-up fails the test.
inline constexpr auto kPrompt = 500ms;

}  // namespace brindlex::net::testing
