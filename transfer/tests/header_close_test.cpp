// A stop or the watchdog closes the handles at the very moment a slow server's
// headers come in: the send has succeeded, and every header query on the closed
// handle fails. The partial file and the object's flags must come through as
// they were, instead of being taken for an answer without ranges or length.
//
// The moment is made exact: this program puts its own curl_easy_getinfo in front
// of libcurl's. The internet layer asks it for the status code when the last
// header line is in; while armed, the stand-in lets the run's closer act there
// and waits until the run thread has closed the request handle.
#include <curl/curl.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <string>
#include <thread>

#include "brindlex/vbrindlex.h"
#include "seams.h"
#include "temp_dir.h"
#include "test_server.h"

using vtest::Body;
using vtest::ReadWholeFile;
using vtest::Route;
using vtest::TestServer;
using vtest::WriteWholeFile;

namespace {

std::atomic<VBRINDLEX*> closeAtHeaders{nullptr};
std::atomic<bool> stopAtHeaders{false};
std::atomic<int> closedAtHeaders{0};
std::atomic<int> standInsDone{0};

}  // namespace

// Called on the library's network thread, inside libcurl's header callback.
extern "C" CURLcode curl_easy_getinfo(CURL* curl, CURLINFO info, ...) {
    va_list args;
    va_start(args, info);
    void* out = va_arg(args, void*);
    va_end(args);
    using GetInfo = CURLcode (*)(CURL*, CURLINFO, ...);
    static const auto real = reinterpret_cast<GetInfo>(dlsym(RTLD_NEXT, "curl_easy_getinfo"));
    if (info == CURLINFO_RESPONSE_CODE) {
        if (VBRINDLEX* t = closeAtHeaders.exchange(nullptr)) {
            if (stopAtHeaders.load()) t->StopAsync();
            // Without a stop the watchdog closes them, once a period has passed.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (t->requestHandle.load() != nullptr && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (t->requestHandle.load() == nullptr) ++closedAtHeaders;
            ++standInsDone;
        }
    }
    return real(curl, info, out);
}

namespace {

TEST(HeadersOnAClosedHandle, LeaveThePartialFileAndFlags) {
    const struct {
        const char* name;
        bool stop;  // a stop closes the handles; otherwise the watchdog does
        unsigned long result;
    } cases[] = {{"stop", true, RESULT_INTERRUPTED}, {"watchdog", false, RESULT_TIMEOUT}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestServer server;
        server.Set("/f", Route{.size = 1000});
        vtest::TempDir dir;
        const std::string out = dir / "out", url = server.Url("/f");
        WriteWholeFile(out, Body(0, 500));
        VBRINDLEX t;
        t.SetURL(url.c_str());
        t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(out.c_str()));
        brindlex::seams::watchPeriodMs = c.stop ? brindlex::seams::kWatchPeriodMs : 500;
        const int closedBefore = closedAtHeaders.load();
        const int standInsBefore = standInsDone.load();
        stopAtHeaders = c.stop;
        closeAtHeaders = &t;
        ASSERT_NE(t.GoAsync(), nullptr);
        ASSERT_EQ(VWait(t.thread, 20000), VWAIT_SIGNALLED);
        // The headers come in on the library's network thread, which may still be
        // in the stand-in when the run has ended: wait for it, as it reads `t`.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (standInsDone.load() == standInsBefore &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        brindlex::seams::watchPeriodMs = brindlex::seams::kWatchPeriodMs;
        closeAtHeaders = nullptr;

        EXPECT_EQ(closedAtHeaders.load(), closedBefore + 1) << "the close never met the headers";
        EXPECT_EQ(server.RequestsFor("/f").at(0).Header("Range"), "bytes=500-");
        EXPECT_EQ(t.result.load(), c.result);
        EXPECT_EQ(t.status.load(), STATUS_FAILED);
        EXPECT_EQ(ReadWholeFile(out), Body(0, 500));
        EXPECT_FALSE(t.GetFlags() & FLAG_NO_RANGE);
        t.CloseHandles();
    }
}

}  // namespace
