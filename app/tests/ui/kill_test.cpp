// Nothing lost when the program is killed: the real program downloads a queue of
// slow, overlapping files and is killed at random moments (fixed seed), restarted
// each time, then left to finish. After every kill the list file must be whole and
// hold every job whose file is not complete, and every file must be the first
// bytes of what the server sends; at the end every file is complete.
//
// The same runs again with SIGTERM, which must end the program normally within a
// few seconds every time and write the settings.
//
// The default run (30 jobs, 10 kills) keeps `scripts/test` short. For a longer run
// by hand (50 jobs, 40 kills) set VANTOREL_LONG_KILL_TEST=1 in the environment:
//   VANTOREL_LONG_KILL_TEST=1 build/app/ui/kill_test
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
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

constexpr int kMaxFiles = 5;
// About 1.5 s per body of 2 to 4 MiB: five runs overlap and most kills find
// several files half-way.
constexpr std::uint64_t kBytesPerSecond = 2u << 20;
constexpr std::uint64_t kMinBody = 2u << 20;
constexpr std::uint64_t kMaxBody = 4u << 20;
// Hang detectors, not timings.
constexpr int kStopLimitMs = 10000;
constexpr int kFinishLimitMs = 180000;

struct Plan {
    int jobs;
    int kills;
};

Plan ChosenPlan() {
    const char* longRun = std::getenv("VANTOREL_LONG_KILL_TEST");
    if (longRun != nullptr && std::string(longRun) == "1") return {50, 40};
    return {30, 10};
}

struct Job {
    ListRecord record;
    std::string route;
    std::uint64_t size;
    std::string file;
};

class KillScenario {
public:
    KillScenario(int signal, unsigned seed)
        : signal_(signal), random_(seed), folder_(temp_.path(), /*withDesktop=*/true) {
        saveDir_ = temp_ / "downloads";
        std::filesystem::create_directories(saveDir_);
        const Plan plan = ChosenPlan();
        kills_ = plan.kills;
        std::uniform_int_distribution<std::uint64_t> sizes(kMinBody, kMaxBody);
        std::string list;
        for (int i = 0; i < plan.jobs; ++i) {
            Job job;
            job.route = "/f" + std::to_string(i);
            job.size = sizes(random_);
            job.record = {server_.Url(job.route), Concat("f", std::to_string(i), ".bin")};
            job.file = saveDir_ + "/" + job.record.name;
            server_.Set(job.route, Route{.size = job.size, .bytesPerSecond = kBytesPerSecond});
            list += RecordLine(job.record);
            all_.push_back(job.record);
            totalBytes_ += job.size;
            jobs_.push_back(std::move(job));
        }
        WriteWholeFile(folder_.listPath(), list);
        WriteWholeFile(folder_.iniPath(), "[Vantorel]\r\nMaxFiles=" + std::to_string(kMaxFiles) +
                                              "\r\nDefPath=" + saveDir_ + "\r\n");
    }

    void Run() {
        // The kills are spread over about four fifths of the time the whole queue
        // takes when nothing stops it, so the last run still has work to do.
        const double expectedMs =
            1000.0 * static_cast<double>(totalBytes_) / (kMaxFiles * kBytesPerSecond);
        std::uniform_int_distribution<int> gaps(0, static_cast<int>(1.6 * expectedMs / kills_));
        for (int kill = 1; kill <= kills_; ++kill) {
            SCOPED_TRACE("kill " + std::to_string(kill));
            ProgramRun run(folder_);
            if (signal_ == SIGTERM) {
                // Before its handler is in place SIGTERM would end the program
                // like SIGKILL; the SIGKILL runs get no such grace.
                ASSERT_TRUE(run.WaitUntilListening()) << run.Output();
            }
            WatchListFile(milliseconds(gaps(random_)));
            if (::testing::Test::HasFailure()) return;
            run.Signal(signal_);
            const int code = run.WaitForExit(kStopLimitMs);
            if (signal_ == SIGKILL) {
                ASSERT_EQ(code, -SIGKILL) << run.Output();
            } else {
                ASSERT_EQ(code, 0) << "SIGTERM did not end the program normally\n" << run.Output();
                ExpectSettingsWritten();
            }
            CheckAfterStop();
            if (::testing::Test::HasFailure()) return;
        }
        Finish();
    }

private:
    // Reads the list file over and over for `span` while the program runs: a
    // reader must never catch it half-written.
    void WatchListFile(milliseconds span) {
        const auto until = std::chrono::steady_clock::now() + span;
        do {
            const std::string text = ReadWholeFile(folder_.listPath());
            const auto records = ParseWholeList(text);
            ASSERT_TRUE(records.has_value()) << "list file caught unfinished:\n" << text;
            ASSERT_TRUE(IsOrderedSubset(*records, all_)) << text;
            std::this_thread::sleep_for(2ms);
        } while (std::chrono::steady_clock::now() < until);
    }

    // After a kill: the list file is whole, every unfinished job is still in it,
    // and no file holds a byte the server did not send at that offset. After a
    // normal end every finished job has left the list file too, and no temporary
    // file of a save is left beside it.
    void CheckAfterStop() {
        const std::string text = ReadWholeFile(folder_.listPath());
        const auto records = ParseWholeList(text);
        ASSERT_TRUE(records.has_value()) << "list file not whole:\n" << text;
        ASSERT_TRUE(IsOrderedSubset(*records, all_)) << text;
        int whole = 0;
        for (const Job& job : jobs_) {
            EXPECT_EQ(CheckBodyPrefix(job.file, job.size, false), "") << job.record.name;
            // A split download reaches its full length while pieces before its
            // end are still holes: complete means every byte is the server's.
            const bool complete = CheckBodyPrefix(job.file, job.size, true).empty();
            const bool listed = Contains(*records, job.record);
            if (complete) ++whole;
            if (!complete) {
                EXPECT_TRUE(listed) << job.record.name << " left the queue with "
                                    << LengthOf(job.file) << " of " << job.size << " bytes";
            } else if (signal_ == SIGTERM) {
                EXPECT_FALSE(listed) << job.record.name << " is complete but still listed";
            }
        }
        if (signal_ == SIGTERM) {
            for (const auto& entry : std::filesystem::directory_iterator(folder_.programDir())) {
                EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos)
                    << entry.path();
            }
        }
        std::printf("after a stop: %d of %zu files complete, %zu jobs listed\n", whole,
                    jobs_.size(), records->size());
    }

    void ExpectSettingsWritten() {
        const std::string ini = folder_.iniPath();
        EXPECT_EQ(ReadProfileString(ini, "Vantorel", "DefPath", "<none>"), saveDir_);
        EXPECT_EQ(ReadProfileString(ini, "Vantorel", "MaxFiles", "<none>"),
                  std::to_string(kMaxFiles));
        EXPECT_EQ(ReadProfileString(ini, "Vantorel", "MaxTries", "<none>"), "5");
        std::int32_t widths[5] = {};
        EXPECT_TRUE(ReadProfileStruct(ini, "Vantorel", "ColWidths", widths, sizeof widths));
    }

    // A job still listed with its file complete was Done just before a kill and
    // not yet dropped from the file: the next start asks past the end of the
    // file, the server answers 416 naming that length, and the run ends Done.
    // Its file is whole, so it counts as done once this run has asked for it.
    bool AskedPastTheEnd(const Job& job, std::size_t earlierRequests) const {
        const auto requests = server_.RequestsFor(job.route);
        const std::string pastTheEnd = "bytes=" + std::to_string(job.size) + "-";
        for (std::size_t i = earlierRequests; i < requests.size(); ++i) {
            if (requests[i].Header("Range") == pastTheEnd) return true;
        }
        return false;
    }

    bool AllDone(const std::vector<std::size_t>& earlierRequests) const {
        const auto records = ParseWholeList(ReadWholeFile(folder_.listPath()));
        if (!records) return false;
        for (std::size_t i = 0; i < jobs_.size(); ++i) {
            if (LengthOf(jobs_[i].file) != jobs_[i].size) return false;
            if (Contains(*records, jobs_[i].record) &&
                !AskedPastTheEnd(jobs_[i], earlierRequests[i]))
                return false;
        }
        return true;
    }

    // The last run goes on until every job is done, then SIGTERM ends it.
    void Finish() {
        std::vector<std::size_t> earlierRequests;
        for (const Job& job : jobs_)
            earlierRequests.push_back(server_.RequestsFor(job.route).size());
        ProgramRun run(folder_);
        ASSERT_TRUE(run.WaitUntilListening()) << run.Output();
        const bool done =
            WaitUntil([&] { return AllDone(earlierRequests); }, milliseconds(kFinishLimitMs));
        run.Signal(SIGTERM);
        ASSERT_EQ(run.WaitForExit(kStopLimitMs), 0) << run.Output();
        ASSERT_TRUE(done) << "the queue did not finish";

        const auto records = ParseWholeList(ReadWholeFile(folder_.listPath()));
        ASSERT_TRUE(records.has_value());
        for (const Job& job : jobs_) {
            EXPECT_EQ(CheckBodyPrefix(job.file, job.size, /*whole=*/true), "") << job.record.name;
        }
        // The kills must have found files half-way, or no resume was tested.
        std::size_t resumed = 0;
        for (const RecordedRequest& request : server_.Requests()) {
            if (request.HasHeader("Range")) ++resumed;
        }
        EXPECT_GT(resumed, 0u);
        if (signal_ == SIGTERM) {
            EXPECT_EQ(records->size(), 0u) << "finished jobs still listed after a normal end";
        }
        std::printf(
            "%zu resumed requests; %zu jobs complete but still listed (refused past the end)\n",
            resumed, records->size());
    }

    int signal_;
    int kills_ = 0;
    std::mt19937_64 random_;
    TempDir temp_;
    ProgramFolder folder_;
    std::string saveDir_;
    TestServer server_;
    std::vector<Job> jobs_;
    std::vector<ListRecord> all_;
    std::uint64_t totalBytes_ = 0;
};

TEST(KillTest, KilledAtRandomMomentsTheProgramLosesNoJobAndNoByte) {
    KillScenario scenario(SIGKILL, 20240611);
    scenario.Run();
}

TEST(KillTest, StoppedWithSigtermAtRandomMomentsItEndsNormallyAndLosesNothing) {
    KillScenario scenario(SIGTERM, 977);
    scenario.Run();
}

}  // namespace
}  // namespace vtest
