// The scheduler's bookkeeping against a plain recomputation from the list: on
// random sequences of events (adds, runs starting, moving, ending Done or Failed,
// deletes, pauses, limits changed while runs go on, the 404 rule using up tries,
// runs that cannot be started), every StartJobs starts exactly the jobs the
// plain rules pick (list order, MaxFiles, one run per file, restarts counted
// against MaxTries), and the running count, the file names being written and the
// first startable job agree with a walk of the whole list after every event, and
// so do the counts of running, waiting, Done and Failed jobs.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "job_queue.h"
#include "model_fixture.h"

namespace {

using modeltest::Jobs;

// Fake runs: the "thread" is an event, so a run ends only when the test says so.
bool failNextStart = false;

VHANDLE FakeStart(DownloadJob* job) {
    if (failNextStart) {
        failNextStart = false;
        job->status = STATUS_FAILED;  // what GoAsync leaves when it makes no thread
        job->result = RESULT_OPEN_FAILED;
        return nullptr;
    }
    job->thread = VCreateEvent(true, false);
    return job->thread;
}

bool PlainRunning(const DownloadJob* job) {
    return job->thread != nullptr || job->status.load() > STATUS_WAIT;
}

bool PlainMayStart(const DownloadJob* job) {
    if (job->paused || PlainRunning(job)) return false;
    return job->status == STATUS_WAIT || (job->status == STATUS_FAILED && job->tries < maxTries);
}

std::multiset<std::string> PlainNamesWritten() {
    std::multiset<std::string> names;
    for (const DownloadJob* job : Jobs()) {
        if (PlainRunning(job) && job->fileName != nullptr) names.insert(job->fileName);
    }
    return names;
}

// The scheduler's rules read straight off the list: the jobs a call should start.
// `sameFileWaits` counts the jobs passed over because their file is being written.
std::vector<DownloadJob*> PlainPicks(int* sameFileWaits = nullptr) {
    int running = 0;
    for (const DownloadJob* job : Jobs()) running += PlainRunning(job) ? 1 : 0;
    std::multiset<std::string> names = PlainNamesWritten();
    std::vector<DownloadJob*> picks;
    for (DownloadJob* job : Jobs()) {
        if (running >= maxFiles) break;
        if (!PlainMayStart(job)) continue;
        if (job->fileName != nullptr && names.count(job->fileName) != 0) {
            if (sameFileWaits != nullptr) ++*sameFileWaits;
            continue;
        }
        picks.push_back(job);
        ++running;
        if (job->fileName != nullptr) names.insert(job->fileName);
    }
    return picks;
}

class QueueBookkeepingTest : public modeltest::ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        startRun = FakeStart;
    }
    void TearDown() override {
        for (DownloadJob* job : Jobs()) {
            if (job->thread == nullptr) continue;
            VSetEvent(job->thread);  // nobody else would end these runs
            CollectRun(job);
        }
        ModelTest::TearDown();
        startRun = saved_;
        failNextStart = false;
    }

    void ExpectBooksMatchTheList(int step) {
        int running = 0;
        DownloadJob* first = nullptr;
        for (DownloadJob* job : Jobs()) {
            running += PlainRunning(job) ? 1 : 0;
            if (first == nullptr && PlainMayStart(job)) first = job;
        }
        const std::multiset<std::string> names = PlainNamesWritten();
        ASSERT_EQ(RunningJobCount(), running) << "step " << step;
        for (const std::string& name : kNames) {
            ASSERT_EQ(FileBeingWritten(name.c_str()), names.count(name) != 0)
                << "step " << step << " " << name;
        }
        ASSERT_EQ(FirstStartableJob(), first) << "step " << step;
        // The status bar's counts: running, then the others by their status.
        JobCountsNow plain;
        for (const DownloadJob* job : Jobs()) {
            if (PlainRunning(job)) {
                ++plain.running;
            } else if (job->status == STATUS_DONE) {
                ++plain.done;
            } else if (job->status == STATUS_FAILED) {
                ++plain.failed;
            } else {
                ++plain.waiting;
            }
        }
        const JobCountsNow kept = JobCounts();
        ASSERT_EQ(kept.running, plain.running) << "step " << step;
        ASSERT_EQ(kept.waiting, plain.waiting) << "step " << step;
        ASSERT_EQ(kept.done, plain.done) << "step " << step;
        ASSERT_EQ(kept.failed, plain.failed) << "step " << step;
    }

    const std::vector<std::string> kNames = {"a", "b", "c", "d", "e"};
    VHANDLE (*saved_)(DownloadJob*) = startRun;
};

TEST_F(QueueBookkeepingTest, RandomEventsAgreeWithAPlainRecomputation) {
    std::mt19937 rng(11);
    auto pick = [&rng](std::size_t size) { return static_cast<std::size_t>(rng() % size); };
    auto anyJob = [&](bool (*wanted)(const DownloadJob*)) -> DownloadJob* {
        std::vector<DownloadJob*> matching;
        for (DownloadJob* job : Jobs()) {
            if (wanted(job)) matching.push_back(job);
        }
        return matching.empty() ? nullptr : matching[pick(matching.size())];
    };
    int starts = 0, sameFileWaits = 0, restarts = 0;
    for (int step = 0; step < 4000; ++step) {
        switch (pick(12)) {
            case 0:
            case 1: {  // a job added, now and then with no file name or linked by hand
                auto* job = new DownloadJob();
                if (pick(10) != 0) SetJobFileName(job, kNames[pick(kNames.size())].c_str());
                if (pick(4) == 0 && jobList != nullptr) {
                    DownloadJob* tail = jobList;
                    while (tail->next != nullptr) tail = tail->next;
                    tail->next = job;  // as the list file reader appends
                } else {
                    AppendJob(job);
                }
                break;
            }
            case 2:
            case 3:
            case 4: {  // the scheduler runs; maybe its first start gets no thread
                failNextStart = pick(8) == 0;
                const std::vector<DownloadJob*> picks = PlainPicks(&sameFileWaits);
                std::vector<int> triesBefore;
                for (DownloadJob* job : picks) triesBefore.push_back(job->tries);
                const bool failing = failNextStart && !picks.empty();
                StartJobs();
                ASSERT_EQ(LastStartFailed(), failing) << "step " << step;
                for (std::size_t i = 0; i < picks.size(); ++i) {
                    DownloadJob* job = picks[i];
                    if (failing) {
                        // It stays Failed with its tries, nothing after it starts.
                        EXPECT_EQ(job->thread, nullptr) << "step " << step;
                        EXPECT_EQ(job->tries, triesBefore[i]) << "step " << step;
                        if (i == 0) {
                            EXPECT_EQ(job->status, STATUS_FAILED);
                        }
                        continue;
                    }
                    ASSERT_NE(job->thread, nullptr) << "step " << step << " pick " << i;
                    const bool restart = job->status == STATUS_FAILED;
                    EXPECT_EQ(job->tries, triesBefore[i] + (restart ? 1 : 0));
                    ++starts;
                    restarts += restart ? 1 : 0;
                }
                EXPECT_EQ(TakeStartedJobs(), failing ? std::vector<DownloadJob*>{} : picks);
                if (!failing) {
                    ASSERT_EQ(PlainPicks(), std::vector<DownloadJob*>{})
                        << "step " << step << ": a job was left that should have started";
                }
                break;
            }
            case 5: {  // a run shows progress
                if (DownloadJob* job =
                        anyJob([](const DownloadJob* j) { return j->thread != nullptr; })) {
                    job->status = pick(2) == 0 ? STATUS_CONNECT : static_cast<long long>(pick(5000));
                }
                break;
            }
            case 6:
            case 7: {  // a run ends and is collected, through the queue or by hand
                DownloadJob* job = anyJob([](const DownloadJob* j) { return j->thread != nullptr; });
                if (job == nullptr) break;
                job->status = pick(3) == 0 ? STATUS_DONE : STATUS_FAILED;
                job->result = job->status == STATUS_DONE ? 0 : 503;
                VSetEvent(job->thread);  // the run has ended: its handles may go
                if (pick(2) == 0) {
                    CollectRun(job);
                } else {
                    job->CloseHandles();  // the queue notices at its next call
                }
                if (job->deleteMark != 0) RemoveJob(job);
                break;
            }
            case 8: {  // a delete: at once when idle, at the end of its run otherwise
                DownloadJob* job = anyJob([](const DownloadJob*) { return true; });
                if (job == nullptr) break;
                if (job->thread != nullptr) {
                    job->deleteMark = 1;
                } else {
                    RemoveJob(job);
                }
                break;
            }
            case 9:  // the limits changed in Preferences, also while runs go on
                if (pick(2) == 0) {
                    maxFiles = static_cast<int>(pick(5));
                } else {
                    maxTries = static_cast<int>(pick(4));
                }
                break;
            case 10: {  // paused or resumed
                DownloadJob* job = anyJob([](const DownloadJob* j) { return j->thread == nullptr; });
                if (job == nullptr) break;
                job->paused = !job->paused;
                if (job->paused) {
                    JobStoppedBeingStartable(job);
                } else {
                    JobBecameStartable(job);
                }
                break;
            }
            default: {  // the 404 rule uses up a failed job's tries without a word
                DownloadJob* job = anyJob([](const DownloadJob* j) {
                    return j->thread == nullptr && j->status == STATUS_FAILED;
                });
                if (job != nullptr) job->tries += 20;
                break;
            }
        }
        ExpectBooksMatchTheList(step);
        if (HasFatalFailure()) return;
    }
    // The sequence really exercised the rules it is meant to pin.
    EXPECT_GT(starts, 300);
    EXPECT_GT(restarts, 50);
    EXPECT_GT(sameFileWaits, 20);
}

}  // namespace
