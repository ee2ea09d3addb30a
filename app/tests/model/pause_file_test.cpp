// The pause file: pauses come back after a restart on the jobs they were made
// on (URL and file name, duplicates counted), records of jobs gone are dropped,
// and the file follows pauses and resumes through both kinds of list save.
#include "pause_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "job_control.h"
#include "list_file.h"
#include "list_save.h"
#include "model_fixture.h"

namespace {

using modeltest::AddJob;
using modeltest::Jobs;
using modeltest::ReadFile;
using modeltest::WriteFile;

std::string Record(const std::string& url, const std::string& name) {
    return "\"" + url + "\" \"" + name + "\"\n";
}

class PauseFileTest : public modeltest::ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        pausePath = dir_.File("paused.dat");
    }
    void TearDown() override {
        FinishListSaves();
        ModelTest::TearDown();
        pausePath.clear();
    }

    // What a restart does: the queue and its pauses read back from the files.
    std::vector<int> Restart() {
        modeltest::DestroyAllJobs();
        LoadJobList();
        LoadPausedJobs();
        std::vector<int> paused;
        for (DownloadJob* job : Jobs()) paused.push_back(job->paused);
        return paused;
    }
};

TEST_F(PauseFileTest, PausesComeBackOnTheirOwnJobsAfterARestart) {
    const std::string u = "http://127.0.0.1:1/a";
    AddJob(u, "x");
    AddJob(u, "y");
    AddJob(u, "x");  // the same URL and name twice: two jobs
    AddJob("http://127.0.0.1:1/q\"q", "n\"m");
    std::vector<DownloadJob*> jobs = Jobs();
    ASSERT_TRUE(PauseJob(jobs[1]));
    ASSERT_TRUE(PauseJob(jobs[2]));
    ASSERT_TRUE(PauseJob(jobs[3]));
    EXPECT_TRUE(JobListSavePending());  // a pause asks for a save
    SaveJobList();
    EXPECT_EQ(ReadFile(pausePath),
              Record(u, "y") + Record(u, "x") + Record("http://127.0.0.1:1/q%22q", "n-m"));
    // Two jobs alike in URL and name are one download twice over (one file):
    // the pause goes to the first of them.
    EXPECT_EQ(Restart(), (std::vector<int>{kPaused, kPaused, kNotPaused, kPaused}));
    // Paused jobs stay out of the scheduler's way.
    EXPECT_EQ(FirstStartableJob(), Jobs()[2]);

    // A resume empties its record with the coalesced save, on the writer thread.
    ASSERT_TRUE(ResumeJob(Jobs()[0]));
    ASSERT_TRUE(ResumeJob(Jobs()[3]));
    SaveJobListInBackground();
    FinishListSaves();
    EXPECT_EQ(ReadFile(pausePath), Record(u, "y"));
    EXPECT_EQ(Restart(), (std::vector<int>{kNotPaused, kPaused, kNotPaused, kNotPaused}));
}

TEST_F(PauseFileTest, RecordsOfJobsNoLongerQueuedAreDropped) {
    const std::string u = "http://127.0.0.1:1/b";
    WriteFile(listPath, Record(u, "kept"));
    // One record too many for "kept", one for a job deleted elsewhere, and an
    // unfinished last record.
    WriteFile(pausePath, Record(u, "kept") + Record(u, "kept") + Record(u, "gone") + "\"" + u);
    EXPECT_EQ(Restart(), (std::vector<int>{kPaused}));
    EXPECT_EQ(ReadFile(pausePath), Record(u, "kept"));

    // Deleting the paused job takes its record with the list's save.
    Jobs()[0]->deleteMark = 1;
    SaveJobList();
    EXPECT_EQ(ReadFile(pausePath), "");
    EXPECT_EQ(Restart(), (std::vector<int>{}));
}

}  // namespace
