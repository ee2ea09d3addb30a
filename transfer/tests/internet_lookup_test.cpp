// Closing a request whose host name lookup never finishes.
//
// No lookup may leave the machine, so this program puts its own getaddrinfo in
// front of the C library's: it holds the lookup of one chosen name until the test
// lets it go and passes every other call through. The name is one /etc/hosts
// gives, so even a lookup that slipped past the stand-in would be answered from
// the file, never from the network.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netdb.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "internet_close_harness.h"
#include "internet_test_util.h"

namespace {

std::mutex lookupMutex;
std::condition_variable lookupChanged;
std::string heldName;
bool released = false;
int held = 0;

// A name /etc/hosts maps to a loopback address, other than "localhost", which
// libcurl answers by itself; "" when there is none.
std::string LoopbackNameFromHosts() {
    std::ifstream hosts("/etc/hosts");
    std::string line;
    while (std::getline(hosts, line)) {
        std::istringstream fields(line.substr(0, line.find('#')));
        std::string address, name;
        if (!(fields >> address) || address.rfind("127.", 0) != 0) continue;
        while (fields >> name) {
            if (name != "localhost" && name.find("localhost") == std::string::npos) return name;
        }
    }
    return {};
}

}  // namespace

// Called by libcurl's lookup thread.
extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** result) {
    using Lookup = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto real = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getaddrinfo"));
    {
        std::unique_lock lock(lookupMutex);
        if (node != nullptr && !heldName.empty() && heldName == node) {
            ++held;
            lookupChanged.notify_all();
            lookupChanged.wait(lock, [] { return released; });
            --held;
            lookupChanged.notify_all();
            return EAI_AGAIN;
        }
    }
    return real(node, service, hints, result);
}

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
