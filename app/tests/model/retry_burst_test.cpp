// Bursts of server errors: the scheduler restarts a failing job within maxTries,
// each restart resumes the partial file, and the job ends Done with the whole
// resource once the server recovers, or Failed with its bytes kept once the tries
// are used up.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "job_queue.h"
#include "model_fixture.h"
#include "test_server.h"

namespace {

using vtest::Route;

constexpr std::uint64_t kSize = 50000;

class RetryBurstTest : public modeltest::ModelTest {
protected:
    DownloadJob* Add() {
        out_ = dir_.File("burst.bin");
        return modeltest::AddJob(server_.Url("/f"), out_);
    }

    // Plays the main loop's part, as when a run's thread is signalled: wait for the
    // end, close the handles, reschedule. Returns the result of every run.
    static std::vector<unsigned long> RunUntilIdle(DownloadJob* job) {
        std::vector<unsigned long> results;
        while (job->thread != nullptr) {
            // Generous: a hang detector, not a timing.
            if (VWait(job->thread, 20000) != VWAIT_SIGNALLED) {
                ADD_FAILURE() << "a run did not end";
                break;
            }
            results.push_back(job->result.load());
            job->CloseHandles();
            StartJobs();
        }
        return results;
    }

    std::vector<std::string> RangesAsked() const {
        std::vector<std::string> ranges;
        for (const auto& request : server_.RequestsFor("/f"))
            ranges.push_back(request.Header("Range"));
        return ranges;
    }

    vtest::TestServer server_;
    std::string out_;
};

Route Status(int status) { return Route{.status = status}; }

TEST_F(RetryBurstTest, ErrorsThenSuccessEndDoneWithinMaxTries) {
    server_.SetSequence("/f", {Status(503), Status(500), Status(503), Route{.size = kSize}});
    DownloadJob* job = Add();
    maxTries = 5;
    StartJobs();
    EXPECT_EQ(RunUntilIdle(job), (std::vector<unsigned long>{503, 500, 503, RESULT_OK}));
    EXPECT_EQ(job->tries, 3);
    EXPECT_EQ(job->status.load(), STATUS_DONE);
    EXPECT_EQ(job->received.load(), kSize);
    EXPECT_TRUE(modeltest::ReadFile(out_) == vtest::Body(0, kSize));
}

// A drop leaves part of the file; the errors that follow leave it alone, and the
// run that succeeds resumes from it.
TEST_F(RetryBurstTest, PartialFileSurvivesTheBurstAndIsResumed) {
    server_.SetSequence("/f", {Route{.size = kSize, .dropAfter = 20000}, Status(503), Status(500),
                               Route{.size = kSize}});
    DownloadJob* job = Add();
    maxTries = 5;
    StartJobs();
    EXPECT_EQ(RunUntilIdle(job), (std::vector<unsigned long>{RESULT_DROPPED, 503, 500, RESULT_OK}));
    EXPECT_EQ(RangesAsked(),
              (std::vector<std::string>{"", "bytes=20000-", "bytes=20000-", "bytes=20000-"}));
    EXPECT_EQ(job->status.load(), STATUS_DONE);
    EXPECT_TRUE(modeltest::ReadFile(out_) == vtest::Body(0, kSize));
}

// A burst longer than the tries: the job fails for good after maxTries restarts,
// with the partial file as the last drop left it.
TEST_F(RetryBurstTest, BurstLongerThanTheTriesLeavesTheJobFailedWithItsBytes) {
    server_.SetSequence("/f", {Route{.size = kSize, .dropAfter = 7000}, Status(503), Status(503),
                               Status(503), Route{.size = kSize}});
    DownloadJob* job = Add();
    maxTries = 2;
    StartJobs();
    EXPECT_EQ(RunUntilIdle(job), (std::vector<unsigned long>{RESULT_DROPPED, 503, 503}));
    EXPECT_EQ(job->tries, 2);
    EXPECT_EQ(job->status.load(), STATUS_FAILED);
    EXPECT_EQ(job->thread, nullptr);
    EXPECT_TRUE(modeltest::ReadFile(out_) == vtest::Body(0, 7000));
}

}  // namespace
