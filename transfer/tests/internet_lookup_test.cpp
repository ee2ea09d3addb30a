// Closing a request whose host name lookup never finishes.
//
// No lookup may leave the machine: the getaddrinfo stand-in of held_lookup.h
// holds the lookup of one chosen name until the test lets it go.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>

#include "held_lookup.h"
#include "internet_close_harness.h"
#include "internet_test_util.h"

namespace brindlex::net {
namespace {

using namespace std::chrono_literals;

TEST(InternetClose, EndsACallWaitingForTheNameLookup) {
    const std::string name = LoopbackNameFromHosts();
    if (name.empty()) GTEST_SKIP() << "no loopback name other than localhost in /etc/hosts";
    {
        std::lock_guard lock(lookupMutex);
        heldName = name;
        released = false;
    }
    testing::LocalPort port(testing::LocalPort::Refusing);
    testing::Handles h("http://" + name + ":" + std::to_string(port.port()) + "/");
    auto lookupHeld = [] {
        std::lock_guard lock(lookupMutex);
        return held > 0;
    };
    // Should freeing the handles wait for the lookup, this lets it go after a while,
    // so the test fails on the time taken instead of hanging.
    std::thread safetyNet([] {
        std::unique_lock lock(lookupMutex);
        if (!lookupChanged.wait_for(lock, 5s, [] { return released; })) {
            released = true;
            lookupChanged.notify_all();
        }
    });
    // The worker lets go of the request while the lookup is still held: freeing
    // the handles must not wait for it.
    const auto elapsed = testing::CloseWhileBlocked(
        h, testing::Closed::Request, [](VHINTERNET r) { return HttpSendRequest(r, ""); },
        lookupHeld);
    EXPECT_LT(elapsed, testing::kPrompt);
    EXPECT_TRUE(lookupHeld());

    {
        std::unique_lock lock(lookupMutex);
        released = true;
        lookupChanged.notify_all();
        lookupChanged.wait(lock, [] { return held == 0; });
        heldName.clear();
    }
    safetyNet.join();
}

}  // namespace
}  // namespace brindlex::net
