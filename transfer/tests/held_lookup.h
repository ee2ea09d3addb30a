// Name lookups that never finish, without any network traffic.
//
// A test program that includes this header (exactly one file of it) puts its own
// getaddrinfo in front of the C library's: it holds every lookup of `heldName`
// until the test sets `released`, and passes every other call through. The name
// should be one /etc/hosts gives (LoopbackNameFromHosts), so even a lookup that
// slipped past the stand-in would be answered from the file, never from the
// network.
#pragma once

#include <dlfcn.h>
#include <netdb.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

namespace {

std::mutex lookupMutex;
std::condition_variable lookupChanged;
// All guarded by lookupMutex.
std::string heldName;
bool released = false;
int held = 0;  // lookups waiting in the stand-in now

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

// Called by libcurl's lookup threads.
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
