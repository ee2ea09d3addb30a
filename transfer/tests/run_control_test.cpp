// The transfer object around the fetch: readings, setters, asynchronous runs, stop,
// watchdog, handles, HTTPS.
#include <dirent.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "brindlex/vbrindlex.h"
#include "seams.h"
#include "temp_dir.h"
#include "test_server.h"

using vtest::Body;
using vtest::ReadWholeFile;
using vtest::Route;
using vtest::TestServer;

namespace {

using Clock = std::chrono::steady_clock;

std::uintptr_t Receptor(const std::string& path) { return reinterpret_cast<std::uintptr_t>(path.c_str()); }

int OpenDescriptors() {
    int count = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr) ++count;
        closedir(d);
    }
    return count;
}

// Shortens the watchdog for one test.
class ShortWatch {
public:
    explicit ShortWatch(unsigned long ms) { brindlex::seams::watchPeriodMs = ms; }
    ~ShortWatch() { brindlex::seams::watchPeriodMs = brindlex::seams::kWatchPeriodMs; }
};

// A transfer object aimed at the path "/f" of its own server, saving into a
// temporary file.
struct Aimed {
    explicit Aimed(const Route& route, TestServer::Mode mode = TestServer::Mode::Http,
                   TestServer::Cert cert = TestServer::Cert::Good)
        : server(mode, cert) {
        server.Set("/f", route);
        t.SetURL(url.c_str());
        t.SetDataReceptor(Receptor(out));
    }
    TestServer server;
    vtest::TempDir dir;
    const std::string out = dir / "out";
    const std::string url = server.Url("/f");
    VBRINDLEX t;
};

TEST(TransferObject, NewObjectReadings) {
    VBRINDLEX t;
    EXPECT_EQ(t.status.load(), STATUS_WAIT);
    EXPECT_EQ(t.result.load(), 0u);
    EXPECT_EQ(t.totalSize.load(), 0u);
    EXPECT_EQ(t.received.load(), 0u);
    ASSERT_NE(t.GetURL(), nullptr);
    EXPECT_STREQ(t.GetURL(), "");
    EXPECT_EQ(t.GetFlags(), FLAG_TO_FILE);
    EXPECT_EQ(t.referer, nullptr);
    EXPECT_EQ(t.dataReceptor, nullptr);
    EXPECT_EQ(t.statusEvent, nullptr);
    EXPECT_EQ(t.thread, nullptr);
    EXPECT_EQ(t.stopEvent, nullptr);
    EXPECT_STREQ(t.agent, "Vantorel 1.0");
}

TEST(TransferObject, Setters) {
    VBRINDLEX t;
    EXPECT_EQ(t.SetURL("http://127.0.0.1/a"), 1);
    EXPECT_STREQ(t.GetURL(), "http://127.0.0.1/a");
    EXPECT_EQ(t.SetReferer("r"), 1);
    EXPECT_STREQ(t.referer, "r");

    const std::string path = "/tmp/x";
    EXPECT_EQ(t.SetDataReceptor(Receptor(path)), 0u);
    EXPECT_EQ(t.SetDataReceptor(0), Receptor(path));
    EXPECT_EQ(t.dataReceptor, path.c_str());

    EXPECT_EQ(t.SetFlags(0), FLAG_TO_FILE);
    EXPECT_EQ(t.GetFlags(), 0u);
}

TEST(TransferObject, FinishedRunLeavesTheActivityBit) {
    Aimed a(Route{.size = 10, .acceptRanges = false});
    VBRINDLEX& t = a.t;
    ASSERT_EQ(t.Go(), RESULT_OK);
    EXPECT_EQ(t.GetFlags(), FLAG_ALIVE | FLAG_NO_RANGE | FLAG_TO_FILE);
}

TEST(TransferObject, AsyncRunSignalsStatusAndEndsWithItsResult) {
    Aimed a(Route{.size = 100000});
    VBRINDLEX& t = a.t;
    VHANDLE thread = t.GoAsync();
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(thread, t.thread);
    ASSERT_NE(t.statusEvent, nullptr);
    ASSERT_NE(t.stopEvent, nullptr);

    int wakes = 0;
    while (VWait(t.thread, 0) == VWAIT_TIMEOUT) {
        if (VWait(t.statusEvent, 50) == VWAIT_SIGNALLED) ++wakes;
    }
    EXPECT_GT(wakes, 0);
    EXPECT_EQ(t.result.load(), RESULT_OK);
    EXPECT_EQ(t.status.load(), STATUS_DONE);
    unsigned long code = 99;
    EXPECT_TRUE(VGetExitCode(t.thread, &code));
    EXPECT_EQ(code, RESULT_OK);
    EXPECT_EQ(ReadWholeFile(a.out), Body(0, 100000));
    t.CloseHandles();
    EXPECT_EQ(t.thread, nullptr);
    EXPECT_EQ(t.statusEvent, nullptr);
    EXPECT_EQ(t.stopEvent, nullptr);
}

TEST(TransferObject, NextAsyncRunReleasesTheEarlierHandles) {
    Aimed a(Route{.size = 10});
    VBRINDLEX& t = a.t;
    t.GoAsync();
    VWait(t.thread, V_INFINITE);
    const int before = OpenDescriptors();
    for (int i = 0; i < 20; ++i) {
        t.GoAsync();
        VWait(t.thread, V_INFINITE);
    }
    // Three handles a run: a leak would show as 60 more. The slack is for the
    // server's side of the last connections, which may still be closing.
    EXPECT_LE(OpenDescriptors(), before + 4);
}

// A run's handles are its own until it ends: a GoAsync or CloseHandles that comes
// too early changes nothing, and the run ends as it would have.
TEST(TransferObject, HandlesOfARunInProgressStay) {
    Aimed a(Route{.size = 100'000, .bytesPerSecond = 400'000});
    VBRINDLEX& t = a.t;
    ASSERT_NE(t.GoAsync(), nullptr);
    const VHANDLE thread = t.thread, stop = t.stopEvent, status = t.statusEvent;
    EXPECT_EQ(t.GoAsync(), nullptr);
    t.CloseHandles();
    EXPECT_EQ(t.thread, thread);
    EXPECT_EQ(t.stopEvent, stop);
    EXPECT_EQ(t.statusEvent, status);
    ASSERT_EQ(VWait(t.thread, 10000), VWAIT_SIGNALLED);
    EXPECT_EQ(t.result.load(), RESULT_OK);
    EXPECT_EQ(ReadWholeFile(a.out), Body(0, 100'000));
    t.CloseHandles();
    EXPECT_EQ(t.thread, nullptr);
}

TEST(TransferObject, StopEndsAFlowingRunAtABlockBoundary) {
    Aimed a(Route{.size = 10'000'000, .bytesPerSecond = 200'000});
    VBRINDLEX& t = a.t;
    t.GoAsync();
    while (t.status.load() < 10000 && VWait(t.thread, 10) == VWAIT_TIMEOUT) {
    }
    t.StopAsync();
    ASSERT_EQ(VWait(t.thread, 5000), VWAIT_SIGNALLED);
    EXPECT_EQ(t.result.load(), RESULT_INTERRUPTED);
    EXPECT_EQ(t.status.load(), STATUS_FAILED);
    const std::uint64_t kept = t.received.load();
    EXPECT_GE(kept, 10000u);
    EXPECT_EQ(ReadWholeFile(a.out), Body(0, kept));
}

// A stop must not wait for the watchdog, in whichever call the run is blocked.
TEST(TransferObject, StopEndsABlockedRunQuickly) {
    TestServer server;
    server.Set("/headers", Route{.size = 100, .neverAnswer = true});
    server.Set("/body", Route{.size = 100000, .stallAfter = 1000});
    vtest::TempDir dir;
    for (const char* target : {"/headers", "/body"}) {
        SCOPED_TRACE(target);
        const std::string out = dir / "out", url = server.Url(target);
        std::remove(out.c_str());
        VBRINDLEX t;
        t.SetURL(url.c_str());
        t.SetDataReceptor(Receptor(out));
        t.GoAsync();
        while (t.status.load() < (target[1] == 'h' ? STATUS_CATCH - 2 : 1000) &&
               VWait(t.thread, 10) == VWAIT_TIMEOUT) {
        }
        const auto start = Clock::now();
        t.StopAsync();
        ASSERT_EQ(VWait(t.thread, 5000), VWAIT_SIGNALLED);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
        EXPECT_EQ(t.result.load(), RESULT_INTERRUPTED);
        EXPECT_EQ(t.status.load(), STATUS_FAILED);
    }
}

TEST(TransferObject, WatchdogEndsAStalledRun) {
    ShortWatch watch(300);
    Aimed a(Route{.size = 100000, .stallAfter = 512});
    VBRINDLEX& t = a.t;
    const auto start = Clock::now();
    EXPECT_EQ(t.Go(), RESULT_TIMEOUT);
    const auto took = Clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(300));
    EXPECT_LT(took, std::chrono::milliseconds(3000));
    EXPECT_EQ(t.status.load(), STATUS_FAILED);
    EXPECT_EQ(t.received.load(), 512u);
    EXPECT_EQ(ReadWholeFile(a.out), Body(0, 512));
}

TEST(TransferObject, WatchdogLeavesASlowButSteadyRunAlone) {
    ShortWatch watch(300);
    // Slower than one period for the whole body, but never silent for a period.
    Aimed a(Route{.size = 40000, .bytesPerSecond = 40000});
    EXPECT_EQ(a.t.Go(), RESULT_OK);
    EXPECT_EQ(ReadWholeFile(a.out), Body(0, 40000));
}

TEST(TransferObject, HttpsWithATrustedCertificate) {
    Aimed a(Route{.size = 5000}, TestServer::Mode::Https);
    VBRINDLEX& t = a.t;
    brindlex::seams::SetTrustedCaFile(a.server.CaFile());
    EXPECT_EQ(t.Go(), RESULT_OK);
    brindlex::seams::SetTrustedCaFile("");
    EXPECT_EQ(ReadWholeFile(a.out), Body(0, 5000));
}

TEST(TransferObject, HttpsRefusesUntrustedCertificates) {
    struct Case {
        TestServer::Cert cert;
        bool trustTestCa;
    } cases[] = {{TestServer::Cert::Good, false},
                 {TestServer::Cert::SelfSigned, true},
                 {TestServer::Cert::Expired, true},
                 {TestServer::Cert::WrongHost, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.cert));
        Aimed a(Route{.size = 100}, TestServer::Mode::Https, c.cert);
        brindlex::seams::SetTrustedCaFile(c.trustTestCa ? a.server.CaFile() : "");
        EXPECT_EQ(a.t.Go(), RESULT_BAD_SEND_REQUEST);
        EXPECT_EQ(a.t.status.load(), STATUS_FAILED);
        brindlex::seams::SetTrustedCaFile("");
    }
}

}  // namespace
