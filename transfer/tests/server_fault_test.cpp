// Servers that fail part-way: dropped connections, stalls, silence, redirect
// loops. Each ends with its own result code and leaves the file holding exactly
// the bytes counted in `received`, so the next run resumes without a splice.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "brindlex/vbrindlex.h"
#include "internet_test_util.h"
#include "seams.h"
#include "temp_dir.h"
#include "test_server.h"

using vtest::Body;
using vtest::ReadWholeFile;
using vtest::Route;
using vtest::TestServer;
using vtest::WriteWholeFile;

namespace {

using Clock = std::chrono::steady_clock;

// Shortens the watchdog for one test.
class ShortWatch {
public:
    explicit ShortWatch(unsigned long ms) { brindlex::seams::watchPeriodMs = ms; }
    ~ShortWatch() { brindlex::seams::watchPeriodMs = brindlex::seams::kWatchPeriodMs; }
    ShortWatch(const ShortWatch&) = delete;
    ShortWatch& operator=(const ShortWatch&) = delete;
};

// One run of a fresh object against `server`'s `target` into `out`.
struct Aimed {
    Aimed(const TestServer& server, const std::string& target, const std::string& out)
        : url(server.Url(target)) {
        t.SetURL(url.c_str());
        t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(out.c_str()));
    }
    std::string url;
    VBRINDLEX t;
};

struct DropCase {
    const char* name;
    TestServer::Mode mode;
    Route::Framing framing;
    std::uint64_t partial;  // bytes already in the file
};

class DroppedConnection : public ::testing::TestWithParam<DropCase> {};

// The connection ends 2000 bytes into the body: 11, the file holds what arrived,
// and a second run resumes it to a byte-identical whole.
TEST_P(DroppedConnection, KeepsTheBytesSoFarAndResumes) {
    const DropCase& c = GetParam();
    TestServer server(c.mode);
    brindlex::net::testing::TrustCa trust(server.CaFile());
    vtest::TempDir dir;
    const std::string out = dir / "out";
    WriteWholeFile(out, Body(0, c.partial));
    server.SetSequence("/f", {Route{.size = 10000, .framing = c.framing, .dropAfter = 2000},
                              Route{.size = 10000, .framing = c.framing}});

    Aimed first(server, "/f", out);
    EXPECT_EQ(first.t.Go(), RESULT_DROPPED);
    EXPECT_EQ(first.t.status.load(), STATUS_FAILED);
    EXPECT_EQ(first.t.received.load(), c.partial + 2000);
    EXPECT_EQ(ReadWholeFile(out), Body(0, c.partial + 2000));

    Aimed second(server, "/f", out);
    EXPECT_EQ(second.t.Go(), RESULT_OK);
    EXPECT_EQ(ReadWholeFile(out), Body(0, 10000));
    const auto requests = server.RequestsFor("/f");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Header("Range"), "bytes=" + std::to_string(c.partial + 2000) + "-");
}

INSTANTIATE_TEST_SUITE_P(
    Drops, DroppedConnection,
    ::testing::Values(DropCase{"resumed", TestServer::Mode::Http, Route::Framing::Length, 3000},
                      DropCase{"chunked", TestServer::Mode::Http, Route::Framing::Chunked, 0},
                      // Over TLS the connection ends without close_notify.
                      DropCase{"tls", TestServer::Mode::Https, Route::Framing::Length, 0},
                      DropCase{"tls_resumed", TestServer::Mode::Https, Route::Framing::Length,
                               512}),
    [](const auto& info) { return std::string(info.param.name); });

// Whatever a run is blocked on when the server goes quiet, the watchdog ends it
// with 13 one or two periods later, and the partial file is left as it was.
TEST(QuietServer, EndsByTheWatchdogAndKeepsThePartialFile) {
    ShortWatch watch(300);
    const struct {
        const char* name;
        TestServer::Mode mode;
        bool silent;  // accepts and never reads (a TLS handshake that never ends)
        Route route;
        std::uint64_t kept;  // length of the file afterwards
    } cases[] = {
        {"never answers", TestServer::Mode::Http, false, Route{.size = 5000, .neverAnswer = true},
         700},
        {"never reads", TestServer::Mode::Http, true, Route{.size = 5000}, 700},
        {"handshake never ends", TestServer::Mode::Https, true, Route{.size = 5000}, 700},
        {"stall in a resumed body", TestServer::Mode::Http, false,
         Route{.size = 5000, .stallAfter = 1000}, 1700},
        {"stall in the tls body", TestServer::Mode::Https, false,
         Route{.size = 5000, .stallAfter = 1000}, 1700},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestServer server(c.mode);
        brindlex::net::testing::TrustCa trust(server.CaFile());
        server.Set("/f", c.route);
        server.SetSilent(c.silent);
        vtest::TempDir dir;
        const std::string out = dir / "out";
        WriteWholeFile(out, Body(0, 700));
        Aimed run(server, "/f", out);
        const auto start = Clock::now();
        EXPECT_EQ(run.t.Go(), RESULT_TIMEOUT);
        const auto took = Clock::now() - start;
        EXPECT_GE(took, std::chrono::milliseconds(300));
        EXPECT_LT(took, std::chrono::seconds(5));
        EXPECT_EQ(run.t.status.load(), STATUS_FAILED);
        EXPECT_EQ(ReadWholeFile(out), Body(0, c.kept));
        EXPECT_EQ(server.AcceptedConnections(), 1u);
    }
}

// Our own redirect following stops after ten hops: the eleventh answer, still a
// redirect, is the result, and the partial file is untouched.
TEST(RedirectLoop, EndsWithTheRedirectStatus) {
    TestServer server;
    server.Set("/self", Route{.status = 302, .location = "/self"});
    server.Set("/ping", Route{.status = 301, .location = "/pong"});
    server.Set("/pong", Route{.status = 307, .location = "/ping"});
    server.Set("/abs", Route{.status = 308, .location = server.Url("/abs?again")});
    const struct {
        const char* target;
        unsigned long result;
    } cases[] = {{"/self", 302}, {"/ping", 301}, {"/abs", 308}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        vtest::TempDir dir;
        const std::string out = dir / "out";
        WriteWholeFile(out, Body(0, 300));
        const std::size_t before = server.Requests().size();
        Aimed run(server, c.target, out);
        EXPECT_EQ(run.t.Go(), c.result);
        EXPECT_EQ(run.t.status.load(), STATUS_FAILED);
        EXPECT_EQ(server.Requests().size() - before, 11u);
        EXPECT_EQ(ReadWholeFile(out), Body(0, 300));
    }
}

}  // namespace
