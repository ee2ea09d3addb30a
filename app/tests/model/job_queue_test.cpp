#include "job_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "job_texts.h"
#include "model_fixture.h"
#include "test_server.h"

namespace {

using modeltest::AddJob;
using modeltest::Jobs;

class JobQueueTest : public modeltest::ModelTest {};

TEST_F(JobQueueTest, AppendAndRemoveKeepTheOrder) {
    DownloadJob* a = AddJob("a", "a");
    DownloadJob* b = AddJob("b", "b");
    DownloadJob* c = AddJob("c", "c");
    DownloadJob* d = AddJob("d", "d");
    EXPECT_EQ(Jobs(), (std::vector<DownloadJob*>{a, b, c, d}));
    RemoveJob(b);  // middle
    EXPECT_EQ(Jobs(), (std::vector<DownloadJob*>{a, c, d}));
    RemoveJob(a);  // head
    EXPECT_EQ(Jobs(), (std::vector<DownloadJob*>{c, d}));
    RemoveJob(d);  // tail: the new tail must end the list
    EXPECT_EQ(Jobs(), (std::vector<DownloadJob*>{c}));
    EXPECT_EQ(c->next, nullptr);
    DownloadJob* e = AddJob("e", "e");
    EXPECT_EQ(Jobs(), (std::vector<DownloadJob*>{c, e}));
}

TEST_F(JobQueueTest, RemovingAJobNotInTheQueueChangesNothing) {
    AddJob("a", "a");
    DownloadJob outsider;  // on the stack: destroying it here would be caught by ASan
    RemoveJob(&outsider);
    EXPECT_EQ(Jobs().size(), 1u);
}

TEST_F(JobQueueTest, NewJobAndItsFileName) {
    auto* job = new DownloadJob();
    EXPECT_EQ(job->fileName, nullptr);
    EXPECT_EQ(job->tries, 0);
    EXPECT_EQ(job->deleteMark, 0);
    EXPECT_EQ(job->next, nullptr);
    EXPECT_EQ(job->status.load(), STATUS_WAIT);
    EXPECT_EQ(SetJobFileName(job, "first.bin"), 1);
    EXPECT_STREQ(job->fileName, "first.bin");
    EXPECT_EQ(job->dataReceptor, job->fileName);
    const std::string name = "second.bin";
    EXPECT_EQ(SetJobFileName(job, name.c_str()), 1);
    EXPECT_NE(job->fileName, name.c_str());  // a copy of its own
    EXPECT_EQ(job->dataReceptor, job->fileName);
    AppendJob(job);
}

// Jobs whose status says they are busy, without a real run behind them: the
// scheduler must count them and start nothing beyond the limit. (The URLs are
// empty, so a run started by mistake fails at once without touching the network.)
TEST_F(JobQueueTest, BusyStatusesCountAsRunning) {
    for (long long busy :
         {STATUS_OPENING, STATUS_CONNECT, STATUS_REQUEST, STATUS_CATCH, 0LL, 5000LL}) {
        modeltest::DestroyAllJobs();
        AddJob("", dir_.File("a"))->status = busy;
        DownloadJob* waiting = AddJob("", dir_.File("b"));
        maxFiles = 1;
        StartJobs();
        EXPECT_EQ(waiting->thread, nullptr) << busy;
    }
}

TEST_F(JobQueueTest, RestingJobsThatAreNeverStarted) {
    AddJob("", dir_.File("a"))->status = STATUS_DONE;
    DownloadJob* failed = AddJob("", dir_.File("b"));
    failed->status = STATUS_FAILED;
    failed->tries = 5;
    maxTries = 5;
    maxFiles = 10;
    StartJobs();
    for (DownloadJob* job : Jobs()) {
        EXPECT_EQ(job->thread, nullptr);
    }
    EXPECT_EQ(failed->tries, 5);
    // A negative limit starts nothing either.
    maxTries = -1;
    failed->tries = 0;
    StartJobs();
    EXPECT_EQ(failed->thread, nullptr);
}

TEST_F(JobQueueTest, MaxFilesZeroStartsNothing) {
    DownloadJob* job = AddJob("", dir_.File("a"));
    maxFiles = 0;
    StartJobs();
    EXPECT_EQ(job->thread, nullptr);
    maxFiles = -3;
    StartJobs();
    EXPECT_EQ(job->thread, nullptr);
}

// Each run takes "Connections" as it stands when the run starts, restarts
// included. (An empty URL: every run fails at once without the network.)
TEST_F(JobQueueTest, EachRunTakesTheConnectionsSettingWhenItStarts) {
    DownloadJob* job = AddJob("", dir_.File("a"));
    maxTries = 10;
    for (int connections : {7, 1, 16, 4}) {
        connectionsPerDownload = connections;
        StartJobs();
        ASSERT_NE(job->thread, nullptr) << connections;
        EXPECT_EQ(job->connections, static_cast<unsigned>(connections));
        connectionsPerDownload = 2;  // a change during the run is for the next one
        ASSERT_EQ(VWait(job->thread, V_INFINITE), VWAIT_SIGNALLED);
        EXPECT_EQ(job->connections, static_cast<unsigned>(connections));
        CollectRun(job);
        ASSERT_EQ(job->status.load(), STATUS_FAILED);
    }
}

// The scheduler against the local server, with the main loop's part played by
// the test: wait for a run's end, collect it, StartJobs, then produce every
// row's LastError text (which is where the 404 rule bites).
class SchedulerTest : public modeltest::ModelTest {
protected:
    DownloadJob* Add(const std::string& path) {
        return AddJob(server_.Url(path), dir_.File(path.substr(1) + ".bin"));
    }

    static void WaitForEnd(DownloadJob* job) {
        ASSERT_NE(job->thread, nullptr);
        ASSERT_EQ(VWait(job->thread, V_INFINITE), VWAIT_SIGNALLED);
    }

    static void Collect(DownloadJob* job) {
        WaitForEnd(job);
        job->CloseHandles();
    }

    // Refreshes every row's LastError text; returns the text of `watched`.
    static std::string Refresh(DownloadJob* watched) {
        std::string text;
        for (DownloadJob* job = jobList; job != nullptr; job = job->next) {
            const char* produced = LastErrorText(job);
            if (job == watched) {
                text = produced;
            }
        }
        return text;
    }

    // Collects ended runs (first in list order first) and reschedules until no run
    // is left. Returns the LastError texts of `watched` after each collection.
    std::vector<std::string> RunUntilIdle(DownloadJob* watched = nullptr) {
        std::vector<std::string> texts;
        for (;;) {
            DownloadJob* running = nullptr;
            for (DownloadJob* job = jobList; job != nullptr && running == nullptr;
                 job = job->next) {
                if (job->thread != nullptr) {
                    running = job;
                }
            }
            if (running == nullptr) {
                return texts;
            }
            Collect(running);
            StartJobs();
            texts.push_back(Refresh(watched));
        }
    }

    std::size_t Runs(const std::string& path) const { return server_.RequestsFor(path).size(); }

    vtest::TestServer server_;
};

vtest::Route Body(std::uint64_t size) {
    vtest::Route route;
    route.size = size;
    return route;
}

vtest::Route Status(int status) {
    vtest::Route route;
    route.status = status;
    return route;
}

TEST_F(SchedulerTest, SecondJobWaitsUntilTheFirstIsDoneAndCollected) {
    server_.Set("/one", Body(3000));
    server_.Set("/two", Body(2000));
    DownloadJob* one = Add("/one");
    DownloadJob* two = Add("/two");
    one->deleteMark = 1;
    StartJobs();
    EXPECT_NE(one->thread, nullptr);
    EXPECT_EQ(one->deleteMark, 0);  // starting a run clears the mark
    EXPECT_EQ(two->thread, nullptr);

    // Ended but not yet collected: still counted, so still nothing for two.
    WaitForEnd(one);
    EXPECT_EQ(one->status.load(), STATUS_DONE);
    StartJobs();
    EXPECT_EQ(two->thread, nullptr);

    one->CloseHandles();
    StartJobs();
    EXPECT_NE(two->thread, nullptr);
    Collect(two);
    EXPECT_EQ(two->status.load(), STATUS_DONE);
    EXPECT_EQ(modeltest::ReadFile(two->fileName), vtest::Body(0, 2000));
    StartJobs();  // a Done job is never started again
    EXPECT_EQ(one->thread, nullptr);
    EXPECT_EQ(two->thread, nullptr);
    EXPECT_EQ(Runs("/one"), 1u);
    EXPECT_EQ(Runs("/two"), 1u);
}

TEST_F(SchedulerTest, FailedFirstJobWithTriesLeftGoesFirst) {
    server_.Set("/one", Status(503));
    server_.Set("/two", Body(100));
    DownloadJob* one = Add("/one");
    DownloadJob* two = Add("/two");
    maxTries = 1;
    StartJobs();
    Collect(one);
    EXPECT_EQ(one->result.load(), 503u);
    StartJobs();  // one has a try left: restarted before two
    EXPECT_NE(one->thread, nullptr);
    EXPECT_EQ(one->tries, 1);
    EXPECT_EQ(two->thread, nullptr);
    Collect(one);
    StartJobs();  // tries used up: now two
    EXPECT_EQ(one->thread, nullptr);
    EXPECT_NE(two->thread, nullptr);
    RunUntilIdle();
    EXPECT_EQ(two->status.load(), STATUS_DONE);
    EXPECT_EQ(Runs("/one"), 2u);
}

TEST_F(SchedulerTest, UncollectedFailedRunIsNotRestarted) {
    server_.Set("/one", Status(500));
    DownloadJob* one = Add("/one");
    StartJobs();
    StartJobs();  // at once: the run may not even show a status yet
    WaitForEnd(one);
    EXPECT_EQ(one->status.load(), STATUS_FAILED);
    StartJobs();  // failed, tries left, but its end not yet collected
    EXPECT_EQ(one->tries, 0);
    one->CloseHandles();
    EXPECT_EQ(Runs("/one"), 1u);
}

TEST_F(SchedulerTest, EveryFailingRunCountsUpToMaxTries) {
    const struct {
        int maxTries;
        std::size_t runs;
    } cases[] = {{5, 6}, {0, 1}, {1, 2}};
    for (const auto& c : cases) {
        modeltest::DestroyAllJobs();
        const std::string path = "/fail" + std::to_string(c.maxTries);
        server_.Set(path, Status(500));
        DownloadJob* job = Add(path);
        maxTries = c.maxTries;
        StartJobs();
        const std::vector<std::string> texts = RunUntilIdle(job);
        EXPECT_EQ(Runs(path), c.runs) << "maxTries " << c.maxTries;
        EXPECT_EQ(job->tries, c.maxTries);
        EXPECT_EQ(job->status.load(), STATUS_FAILED);
        EXPECT_EQ(texts.back(), c.maxTries == 0 ? "" : "ServError:" + std::to_string(c.maxTries));
    }
}

TEST_F(SchedulerTest, RaisingMaxTriesRestartsFailedJobsWithinMaxFiles) {
    for (const char* path : {"/a", "/b", "/c"}) {
        server_.Set(path, Status(503));
        Add(path);
    }
    maxFiles = 2;
    maxTries = 0;
    StartJobs();
    EXPECT_EQ(Jobs()[2]->thread, nullptr);  // jobs are taken in list order
    RunUntilIdle();
    for (DownloadJob* job : Jobs()) {
        EXPECT_EQ(job->status.load(), STATUS_FAILED);
    }

    maxTries = 1;  // what the Preferences dialog does, followed by StartJobs
    StartJobs();
    EXPECT_NE(Jobs()[0]->thread, nullptr);
    EXPECT_NE(Jobs()[1]->thread, nullptr);
    EXPECT_EQ(Jobs()[2]->thread, nullptr);
    RunUntilIdle();
    for (const char* path : {"/a", "/b", "/c"}) {
        EXPECT_EQ(Runs(path), 2u) << path;
    }
}

TEST_F(SchedulerTest, NotFoundIsRestartedOnceThenLeft) {
    DownloadJob* job = Add("/missing");  // unscripted: 404
    maxTries = 5;
    StartJobs();
    const std::vector<std::string> texts = RunUntilIdle(job);
    EXPECT_EQ(Runs("/missing"), 2u);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "NotFound:1");   // shown while the restart runs
    EXPECT_EQ(texts[1], "NotFound:21");  // tries 21 >= maxTries: left as failed
    EXPECT_EQ(job->thread, nullptr);
}

TEST_F(SchedulerTest, LaterWhileRestartingThenDoneOnTheFirstRestart) {
    // The second answer is slow, so the refresh after the restart sees that run
    // still in progress (its result still the first run's 503).
    vtest::Route slow = Body(5000);
    slow.bytesPerSecond = 10000;
    server_.SetSequence("/busy", {Status(503), slow});
    DownloadJob* job = Add("/busy");
    StartJobs();
    const std::vector<std::string> texts = RunUntilIdle(job);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "Later:1");  // while the second run is in progress
    EXPECT_EQ(texts[1], ":1");       // success has an empty label
    EXPECT_STREQ(StatusText(job), "Done");
    EXPECT_EQ(modeltest::ReadFile(job->fileName), vtest::Body(0, 5000));
}

// Two jobs saving to one file never run at once: the second waits for the first
// to end, so the file is never interleaved. It then asks for the bytes past the
// complete file; the server's 416 names that length, so the second is done too.
TEST_F(SchedulerTest, JobsSharingAFileNameRunOneAfterTheOther) {
    server_.Set("/slow", [] {
        vtest::Route route = Body(200000);
        route.bytesPerSecond = 2000000;
        return route;
    }());
    const std::string file = dir_.File("same.bin");
    DownloadJob* first = AddJob(server_.Url("/slow"), file);
    DownloadJob* second = AddJob(server_.Url("/slow"), file);
    maxFiles = 2;
    StartJobs();
    EXPECT_NE(first->thread, nullptr);
    EXPECT_EQ(second->thread, nullptr);
    RunUntilIdle();
    EXPECT_EQ(first->status.load(), STATUS_DONE);
    EXPECT_EQ(second->status.load(), STATUS_DONE);
    EXPECT_EQ(second->result.load(), RESULT_OK);
    EXPECT_EQ(modeltest::ReadFile(file), vtest::Body(0, 200000));
}

}  // namespace
