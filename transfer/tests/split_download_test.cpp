// One download over several connections: the pieces, the record of what a split
// file holds, resuming only what is missing, and servers that want fewer
// connections.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "attribute_folder.h"
#include "brindlex/vbrindlex.h"
#include "held_record.h"
#include "resume_validator.h"
#include "seams.h"
#include "temp_dir.h"
#include "test_server.h"

using vtest::Body;
using vtest::ReadWholeFile;
using vtest::RecordedRequest;
using vtest::Route;
using vtest::TestServer;

namespace {

using vtest::AttributeFolder;

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr char kEtag[] = "\"v1\"";

struct Asked {
    std::uint64_t first;
    std::uint64_t last;  // inclusive; ~0 for an open range
};

// The ranges the requests asked for; none for a request without Range.
std::vector<Asked> AskedRanges(const std::vector<RecordedRequest>& requests) {
    std::vector<Asked> asked;
    for (const RecordedRequest& r : requests) {
        const std::string range = r.Header("Range");
        if (range.empty()) continue;
        const auto dash = range.find('-');
        const std::string last = range.substr(dash + 1);
        asked.push_back({std::stoull(range.substr(6, dash - 6)),
                         last.empty() ? ~std::uint64_t{0} : std::stoull(last)});
    }
    return asked;
}

// The record kept with a partial file; fails the test when it cannot be trusted
// or claims a byte that is not the resource's.
std::vector<brindlex::ByteRange> TrustedRecord(const std::string& path,
                                               const std::string& body) {
    const int fd = open(path.c_str(), O_RDONLY);
    struct stat st {};
    fstat(fd, &st);
    const auto validator = brindlex::ReadResumeValidator(fd);
    brindlex::HeldRecord record;
    const auto state = brindlex::ReadHeldRecord(
        fd, validator ? validator->origin + " " + validator->value : "",
        static_cast<std::uint64_t>(st.st_size), &record);
    close(fd);
    EXPECT_EQ(state, brindlex::RecordState::Trusted);
    const std::string bytes = ReadWholeFile(path);
    for (const auto& r : record.ranges) {
        EXPECT_TRUE(bytes.compare(r.start, r.end - r.start, body, r.start, r.end - r.start) == 0)
            << "the record claims " << r.start << "-" << r.end;
    }
    return record.ranges;
}

bool HasRecord(const std::string& path) {
    return getxattr(path.c_str(), brindlex::kHeldAttribute, nullptr, 0) >= 0;
}

// No resumed request asks again for a byte the record held.
void ExpectAsksOnlyMissing(const std::vector<Asked>& asked,
                           const std::vector<brindlex::ByteRange>& held, std::uint64_t total) {
    for (const Asked& a : asked) {
        for (const auto& h : held) {
            const std::uint64_t last = std::min(a.last, total - 1);
            EXPECT_FALSE(a.first < h.end && h.start <= last)
                << "asked " << a.first << "-" << last << " over held " << h.start << "-" << h.end;
        }
    }
}

struct Outcome {
    unsigned long result = 0;
    unsigned most = 0;  // most connections in use at once
};

// Fetches `url` into `out` with `connections`; stops it once `stopAt` bytes are
// held (0: never).
Outcome Fetch(const std::string& url, const std::string& out, unsigned connections,
          std::uint64_t stopAt = 0) {
    VBRINDLEX t;
    t.SetURL(url.c_str());
    t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(out.c_str()));
    t.connections = connections;
    Outcome run;
    t.GoAsync();
    while (VWait(t.thread, 5) != 0) {
        run.most = std::max(run.most, t.connectionsInUse.load());
        if (stopAt != 0 && t.received.load() >= stopAt) t.StopAsync();
    }
    run.result = t.result.load();
    EXPECT_EQ(t.connectionsInUse.load(), 0u);
    return run;
}

class SplitDownload : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = AttributeFolder();
        if (base_.empty()) GTEST_SKIP() << "no folder here takes user extended attributes";
        dir_ = std::make_unique<vtest::TempDir>(base_);
        out_ = *dir_ / "out";
    }
    void TearDown() override { brindlex::seams::extendedAttributesFail = false; }
    std::string base_;
    std::unique_ptr<vtest::TempDir> dir_;
    std::string out_;
};

TEST_F(SplitDownload, PiecesOverSeveralConnectionsAreByteExact) {
    TestServer server;
    const std::uint64_t size = 8 * kMiB;
    server.Set("/f", Route{.size = size, .bytesPerSecond = 4 * kMiB, .etag = kEtag});
    const Outcome run = Fetch(server.Url("/f"), out_, 4);
    EXPECT_EQ(run.result, RESULT_OK);
    EXPECT_EQ(run.most, 4u);
    EXPECT_TRUE(ReadWholeFile(out_) == Body(0, size));
    EXPECT_FALSE(HasRecord(out_)) << "a complete file keeps no record";
    // The first request as today, then one piece each for three more: closed
    // ranges of at least 1 MiB that never overlap and fill the rest.
    const auto requests = server.RequestsFor("/f");
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_FALSE(requests[0].HasHeader("Range"));
    auto asked = AskedRanges(requests);
    ASSERT_EQ(asked.size(), 3u);
    std::sort(asked.begin(), asked.end(), [](auto& a, auto& b) { return a.first < b.first; });
    for (std::size_t i = 0; i < asked.size(); ++i) {
        EXPECT_GE(asked[i].last + 1 - asked[i].first, kMiB);
        EXPECT_EQ(requests[i + 1].Header("If-Range"), kEtag);
        if (i + 1 < asked.size()) {
            EXPECT_EQ(asked[i].last + 1, asked[i + 1].first);
        }
    }
    EXPECT_EQ(asked.back().last, size - 1);
}

// A connection done with its piece takes over the second half of a slow one's.
TEST_F(SplitDownload, AnIdleConnectionTakesHalfOfASlowOnesPiece) {
    const std::uint64_t size = 8 * kMiB;
    const Route fast{.size = size, .etag = kEtag};
    Route slow = fast;
    slow.bytesPerSecond = kMiB;
    TestServer server;
    server.SetSequence("/f", {fast, slow, fast});
    EXPECT_EQ(Fetch(server.Url("/f"), out_, 2).result, RESULT_OK);
    EXPECT_TRUE(ReadWholeFile(out_) == Body(0, size));
    const auto asked = AskedRanges(server.RequestsFor("/f"));
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].first, size / 2);
    // Half of what the slow one had left, to the end of the file.
    EXPECT_GT(asked[1].first, size / 2 + kMiB);
    EXPECT_LT(asked[1].first, size - kMiB);
    EXPECT_EQ(asked[1].last, size - 1);
}

// A connection that stalls holds its piece: a stop and the watchdog end it as
// they end the first one, and the next attempt fetches what it left.
TEST_F(SplitDownload, AStopAndTheWatchdogReachAStalledConnection) {
    const std::uint64_t size = 8 * kMiB;
    const Route fast{.size = size, .etag = kEtag};
    Route stalled = fast;
    stalled.stallAfter = 1000;
    for (const bool watchdog : {false, true}) {
        SCOPED_TRACE(watchdog ? "watchdog" : "stop");
        std::remove(out_.c_str());
        TestServer server;
        server.SetSequence("/f", {fast, stalled, fast});
        brindlex::seams::watchPeriodMs = watchdog ? 300 : brindlex::seams::kWatchPeriodMs;
        const auto began = std::chrono::steady_clock::now();
        const Outcome run = Fetch(server.Url("/f"), out_, 2, watchdog ? 0 : 5 * kMiB);
        brindlex::seams::watchPeriodMs = brindlex::seams::kWatchPeriodMs;
        EXPECT_EQ(run.result, watchdog ? RESULT_TIMEOUT : RESULT_INTERRUPTED);
        EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(10));
        TrustedRecord(out_, Body(0, size));
        EXPECT_EQ(Fetch(server.Url("/f"), out_, 2).result, RESULT_OK);
        EXPECT_TRUE(ReadWholeFile(out_) == Body(0, size));
    }
}

// A write that fails on one connection (the file size limit here, as a full
// disk would) ends the run with the file problem and its reason; what the record
// names is on disk, and the next run completes the file.
TEST_F(SplitDownload, AFailedWriteEndsTheRunWithItsReason) {
    const std::uint64_t size = 4 * kMiB;
    TestServer server;
    server.Set("/f", Route{.size = size, .etag = kEtag});
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit limited = before;
    limited.rlim_cur = 3 * kMiB + 100;  // inside the last piece's first block
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    VBRINDLEX t;
    const std::string url = server.Url("/f");
    t.SetURL(url.c_str());
    t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(out_.c_str()));
    t.connections = 4;
    const unsigned long result = t.Go();
    setrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(result, RESULT_FILE_PROBLEM);
    EXPECT_EQ(t.fileError.load(), EFBIG);
    TrustedRecord(out_, Body(0, size));
    EXPECT_EQ(Fetch(url, out_, 4).result, RESULT_OK);
    EXPECT_TRUE(ReadWholeFile(out_) == Body(0, size));
}

// A run's limits hold for all its connections together: the object's own, and
// its share of the process-wide one, which it takes as one run.
TEST_F(SplitDownload, SpeedLimitsHoldForAllConnectionsTogether) {
    const std::uint64_t size = 3 * kMiB;
    for (const bool own : {true, false}) {
        SCOPED_TRACE(own ? "own limit" : "process-wide limit");
        std::remove(out_.c_str());
        TestServer server;
        server.Set("/f", Route{.size = size, .etag = kEtag});
        VBRINDLEX t;
        const std::string url = server.Url("/f");
        t.SetURL(url.c_str());
        t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(out_.c_str()));
        t.connections = 4;
        if (own) {
            t.speedLimit = 2 * kMiB;
        } else {
            VSetSpeedLimit(2 * kMiB);
        }
        const auto began = std::chrono::steady_clock::now();
        EXPECT_EQ(t.Go(), RESULT_OK);
        VSetSpeedLimit(0);
        // 1.5 s at the limit; several connections each at the limit take far less.
        EXPECT_GT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(1300));
        EXPECT_TRUE(ReadWholeFile(out_) == Body(0, size));
        EXPECT_GE(server.RequestsFor("/f").size(), 2u);
    }
}

// Stopped, or killed with SIGKILL, mid-way: the record names only bytes on disk,
// and the next attempt asks for nothing else than what is missing.
TEST_F(SplitDownload, ResumeAfterAStopOrAKillAsksOnlyTheMissingRanges) {
    const std::uint64_t size = 16 * kMiB;
    const std::string body = Body(0, size);
    // The kill first: the child must be forked while this process has no
    // network thread yet.
    for (const bool kill : {true, false}) {
        SCOPED_TRACE(kill ? "killed" : "stopped");
        std::remove(out_.c_str());
        // Forked before the server exists: the child starts with one thread.
        int toChild[2];
        ASSERT_EQ(pipe(toChild), 0);
        const pid_t child = kill ? fork() : 0;
        if (kill && child == 0) {
            close(toChild[1]);
            std::string url;
            char buf[256];
            for (ssize_t n; (n = read(toChild[0], buf, sizeof buf)) > 0;) url.append(buf, n);
            VBRINDLEX t;
            t.SetURL(url.c_str());
            t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(out_.c_str()));
            t.connections = 4;
            t.Go();
            _exit(0);
        }
        close(toChild[0]);
        TestServer server;
        server.Set("/f", Route{.size = size, .bytesPerSecond = kMiB, .etag = kEtag});
        const std::string url = server.Url("/f");
        if (kill) {
            ASSERT_EQ(write(toChild[1], url.data(), url.size()), static_cast<ssize_t>(url.size()));
            close(toChild[1]);
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            ::kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        } else {
            close(toChild[1]);
            EXPECT_EQ(Fetch(url, out_, 4, 3 * kMiB).result, RESULT_INTERRUPTED);
        }
        const auto held = TrustedRecord(out_, body);
        ASSERT_GT(held.size(), 1u) << "a split file has holes";
        const std::size_t before = server.RequestsFor("/f").size();

        server.Set("/f", Route{.size = size, .etag = kEtag});
        EXPECT_EQ(Fetch(url, out_, 4).result, RESULT_OK);
        EXPECT_TRUE(ReadWholeFile(out_) == body);
        auto requests = server.RequestsFor("/f");
        requests.erase(requests.begin(), requests.begin() + static_cast<long>(before));
        for (const auto& r : requests) EXPECT_EQ(r.Header("If-Range"), kEtag);
        ExpectAsksOnlyMissing(AskedRanges(requests), held, size);
    }
}

// The held pieces cannot be continued: the resource changed between two
// attempts, or the record is damaged. The whole file is fetched again.
TEST_F(SplitDownload, PiecesThatCannotBeContinuedAreFetchedAgainWhole) {
    const std::uint64_t size = 6 * kMiB;
    const std::string fresh(5 * kMiB + 7, 'n');
    const struct {
        const char* name;
        bool damage;
        Route now;
        std::string expected;
    } cases[] = {
        {"changed version", false, Route{.body = fresh, .etag = "\"v2\""}, fresh},
        {"damaged record", true, Route{.size = size, .etag = kEtag}, Body(0, size)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(out_.c_str());
        TestServer server;
        server.Set("/f", Route{.size = size, .bytesPerSecond = 2 * kMiB, .etag = kEtag});
        EXPECT_EQ(Fetch(server.Url("/f"), out_, 4, 2 * kMiB).result, RESULT_INTERRUPTED);
        ASSERT_TRUE(HasRecord(out_));
        if (c.damage) {
            setxattr(out_.c_str(), brindlex::kHeldAttribute, "1 x", 3, 0);
        }
        const std::size_t before = server.RequestsFor("/f").size();
        server.Set("/f", c.now);
        EXPECT_EQ(Fetch(server.Url("/f"), out_, 4).result, RESULT_OK);
        EXPECT_TRUE(ReadWholeFile(out_) == c.expected);
        EXPECT_FALSE(HasRecord(out_));
        // A damaged record is not even asked about: no range from its length.
        EXPECT_EQ(server.RequestsFor("/f").at(before).HasHeader("Range"), !c.damage);
    }
}

// A piece of another length of resource: the file changed while it was being
// fetched. Nothing of that answer is written; the same attempt starts over once,
// and a second change ends it, the next attempt starting over.
TEST_F(SplitDownload, APieceOfAnotherVersionStartsTheFileOver) {
    const std::uint64_t size = 8 * kMiB;
    const Route good{.size = size, .bytesPerSecond = 4 * kMiB, .etag = kEtag};
    const Route longer{.size = size + 5, .etag = kEtag};
    const Route fast{.size = size, .etag = kEtag};
    const struct {
        const char* name;
        std::vector<Route> sequence;
        unsigned long result;
    } cases[] = {
        {"changed once", {good, longer, fast}, RESULT_OK},
        {"changed twice", {good, longer, good, longer, fast}, RESULT_DROPPED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(out_.c_str());
        TestServer server;
        server.SetSequence("/f", c.sequence);
        EXPECT_EQ(Fetch(server.Url("/f"), out_, 2).result, c.result);
        // The whole file again, without a range, right after the piece that differed.
        EXPECT_FALSE(server.RequestsFor("/f").at(2).HasHeader("Range"));
        if (c.result != RESULT_OK) {
            const std::size_t before = server.RequestsFor("/f").size();
            EXPECT_EQ(Fetch(server.Url("/f"), out_, 2).result, RESULT_OK);
            EXPECT_FALSE(server.RequestsFor("/f").at(before).HasHeader("Range"));
        }
        EXPECT_TRUE(ReadWholeFile(out_) == Body(0, size));
    }
}

// Servers that want fewer connections: the download goes on with the ones it has.
TEST_F(SplitDownload, ServersRefusingExtraConnectionsStillGiveTheWholeFile) {
    const std::uint64_t size = 8 * kMiB;
    const Route good{.size = size, .bytesPerSecond = 8 * kMiB, .etag = kEtag};
    Route busy{.status = 503, .body = "busy", .acceptRanges = false};
    Route whole = good;
    whole.acceptRanges = false;  // a 200 with the whole resource to a range
    Route dropped = good;
    dropped.dropAfter = 300000;
    const struct {
        const char* name;
        std::vector<Route> sequence;  // the last one answers every later request
    } cases[] = {
        {"two connections only", {good, good, busy, busy, good}},
        {"a 200 to a range", {good, whole, good}},
        {"dropped mid-piece", {good, dropped, good}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(out_.c_str());
        TestServer server;
        server.SetSequence("/f", c.sequence);
        EXPECT_EQ(Fetch(server.Url("/f"), out_, 4).result, RESULT_OK);
        EXPECT_TRUE(ReadWholeFile(out_) == Body(0, size));
    }
}

// One request, exactly as with one connection: a file system without attributes
// (nothing could record the holes), and a file too small to split.
TEST_F(SplitDownload, NoAttributesOrASmallFileTakeOneRequest) {
    const struct {
        const char* name;
        std::uint64_t size;
        bool noAttributes;
    } cases[] = {{"no extended attributes", 4 * kMiB, true}, {"1 MiB", kMiB, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(out_.c_str());
        TestServer server;
        server.Set("/f", Route{.size = c.size, .etag = kEtag});
        brindlex::seams::extendedAttributesFail = c.noAttributes;
        const Outcome run = Fetch(server.Url("/f"), out_, 8);
        brindlex::seams::extendedAttributesFail = false;
        EXPECT_EQ(run.result, RESULT_OK);
        EXPECT_LE(run.most, 1u);
        EXPECT_EQ(server.RequestsFor("/f").size(), 1u);
        EXPECT_TRUE(ReadWholeFile(out_) == Body(0, c.size));
    }
}

}  // namespace

namespace {

// A record of more ranges than the attribute holds keeps the largest ones: it
// claims less than the file holds, never more.
TEST_F(SplitDownload, ARecordTooLongForTheAttributeDropsItsSmallestRanges) {
    brindlex::HeldRecord record{.total = 1000000, .version = "http://h:80 \"v1\"", .ranges = {}};
    for (std::uint64_t i = 0; i < 500; ++i) record.ranges.push_back({i * 2000, i * 2000 + 1 + i});
    vtest::WriteWholeFile(out_, std::string(1000000, 'x'));
    const int fd = open(out_.c_str(), O_RDWR);
    ASSERT_TRUE(brindlex::WriteHeldRecord(fd, record));
    brindlex::HeldRecord read;
    EXPECT_EQ(brindlex::ReadHeldRecord(fd, record.version, 1000000, &read),
              brindlex::RecordState::Trusted);
    close(fd);
    EXPECT_LE(brindlex::EncodeHeldRecord(record).size(), brindlex::kMaxHeldRecord);
    ASSERT_FALSE(read.ranges.empty());
    EXPECT_LT(read.ranges.size(), record.ranges.size());
    for (const auto& r : read.ranges) {
        const auto& original = record.ranges[r.start / 2000];
        EXPECT_TRUE(r.start == original.start && r.end == original.end);
    }
    EXPECT_EQ(read.ranges.back().end, record.ranges.back().end) << "the largest range stays";
}

}  // namespace
