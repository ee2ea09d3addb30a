// A program with a hundred runs in progress, spread over every phase a run can be
// held in (connecting, waiting for the answer's headers, a body stalled half-way,
// a body still flowing), ends normally within seconds of SIGTERM, keeps every
// partial file as the first bytes of its body and keeps all hundred jobs queued.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "concat.h"
#include "profile_file.h"
#include "program_runner.h"
#include "queue_checks.h"
#include "test_server.h"

namespace vtest {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

constexpr int kJobs = 100;
constexpr std::uint64_t kStallAfter = 1000;
constexpr std::uint64_t kStalledSize = 100000;
constexpr std::uint64_t kFlowingSize = 10000000;
// A hang detector, not a timing: every run ends within about a second of its stop.
constexpr int kExitLimitMs = 10000;
constexpr auto kStartLimit = 60s;

// A port on 127.0.0.1 whose connections never complete: it listens with a backlog
// of 0, and one connection of our own fills that, so further SYNs are dropped
// and every connect waits in the handshake.
class NeverConnectingPort {
public:
    NeverConnectingPort() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ok_ = listener_ >= 0 && filler_ >= 0 &&
              ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
              ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
              ::listen(listener_, 0) == 0 &&
              ::connect(filler_, reinterpret_cast<sockaddr*>(&address), length) == 0;
        port_ = ntohs(address.sin_port);
    }
    ~NeverConnectingPort() {
        if (filler_ >= 0) ::close(filler_);
        if (listener_ >= 0) ::close(listener_);
    }
    NeverConnectingPort(const NeverConnectingPort&) = delete;
    NeverConnectingPort& operator=(const NeverConnectingPort&) = delete;

    bool ok() const { return ok_; }
    unsigned short port() const { return port_; }

    // Connections to this port still in their handshake (state SYN_SENT), from
    // any process of this network namespace.
    int Connecting() const {
        std::ifstream table("/proc/net/tcp");
        std::string line;
        std::getline(table, line);  // the heading
        int count = 0;
        while (std::getline(table, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            const std::size_t colon = remote.find(':');
            if (colon == std::string::npos || state != "02") continue;
            if (std::stoul(remote.substr(colon + 1), nullptr, 16) == port_) ++count;
        }
        return count;
    }

private:
    int listener_ = -1;
    int filler_ = -1;
    unsigned short port_ = 0;
    bool ok_ = false;
};

enum class Phase { Connect, Headers, Stalled, Flowing };

struct HeldJob {
    Phase phase;
    ListRecord record;
    std::string file;
};

TEST(ShutdownLoadTest, HundredRunsInEveryPhaseEndWithinSecondsOfSigtermAndStayQueued) {
    TempDir temp;
    ProgramFolder folder(temp.path(), /*withDesktop=*/true);
    const std::string saveDir = temp / "downloads";
    std::filesystem::create_directories(saveDir);
    WriteWholeFile(folder.iniPath(), "[Vantorel]\r\nMaxFiles=" + std::to_string(kJobs) +
                                         "\r\nDefPath=" + saveDir + "\r\n");
    NeverConnectingPort connectHeld;
    ASSERT_TRUE(connectHeld.ok());
    TestServer server;
    server.Set("/h", Route{.size = 1000, .neverAnswer = true});
    server.Set("/s", Route{.size = kStalledSize, .stallAfter = kStallAfter});
    server.Set("/f", Route{.size = kFlowingSize, .bytesPerSecond = 100000});

    std::vector<HeldJob> jobs;
    std::string list;
    for (int i = 0; i < kJobs; ++i) {
        const auto phase = static_cast<Phase>(i % 4);
        const std::string query = Concat("?", std::to_string(i));
        std::string url;
        switch (phase) {
            case Phase::Connect:
                url = "http://127.0.0.1:" + std::to_string(connectHeld.port()) + "/c" + query;
                break;
            case Phase::Headers:
                url = server.Url("/h" + query);
                break;
            case Phase::Stalled:
                url = server.Url("/s" + query);
                break;
            case Phase::Flowing:
                url = server.Url("/f" + query);
                break;
        }
        HeldJob job{phase, {url, Concat("j", std::to_string(i), ".bin")}, ""};
        job.file = saveDir + "/" + job.record.name;
        list += RecordLine(job.record);
        jobs.push_back(std::move(job));
    }
    WriteWholeFile(folder.listPath(), list);
    const std::size_t perPhase = kJobs / 4;

    ProgramRun run(folder);
    ASSERT_TRUE(run.WaitUntilListening()) << run.Output();
    // Every run where it is meant to be held before the stop.
    auto allThere = [&] {
        if (connectHeld.Connecting() < static_cast<int>(perPhase)) return false;
        if (server.RequestsFor("/h").size() < perPhase) return false;
        for (const HeldJob& job : jobs) {
            if (job.phase == Phase::Stalled && LengthOf(job.file) < kStallAfter) return false;
            if (job.phase == Phase::Flowing && LengthOf(job.file) == 0) return false;
        }
        return true;
    };
    ASSERT_TRUE(WaitUntil(allThere, kStartLimit))
        << connectHeld.Connecting() << " connecting, " << server.RequestsFor("/h").size()
        << " waiting for headers\n"
        << run.Output();

    const auto stoppedAt = std::chrono::steady_clock::now();
    run.Signal(SIGTERM);
    ASSERT_EQ(run.WaitForExit(kExitLimitMs), 0) << "no normal end within the limit\n"
                                                << run.Output();
    std::printf("ended %lld ms after SIGTERM\n",
                static_cast<long long>(std::chrono::duration_cast<milliseconds>(
                                           std::chrono::steady_clock::now() - stoppedAt)
                                           .count()));

    // No run ended Done, so the list file is the one written by hand, unchanged.
    EXPECT_EQ(ReadWholeFile(folder.listPath()), list);
    for (const HeldJob& job : jobs) {
        SCOPED_TRACE(job.record.name);
        switch (job.phase) {
            case Phase::Connect:
            case Phase::Headers:
                EXPECT_EQ(LengthOf(job.file), 0u);
                break;
            case Phase::Stalled:
                EXPECT_EQ(CheckBodyPrefix(job.file, kStalledSize, false), "");
                EXPECT_EQ(LengthOf(job.file), kStallAfter);
                break;
            case Phase::Flowing:
                EXPECT_EQ(CheckBodyPrefix(job.file, kFlowingSize, false), "");
                EXPECT_GT(LengthOf(job.file), 0u);
                EXPECT_LT(LengthOf(job.file), kFlowingSize);
                break;
        }
    }
    EXPECT_EQ(ReadProfileString(folder.iniPath(), "Vantorel", "MaxFiles", "<none>"),
              std::to_string(kJobs));
    EXPECT_EQ(ReadProfileString(folder.iniPath(), "Vantorel", "DefPath", "<none>"), saveDir);
}

}  // namespace
}  // namespace vtest
