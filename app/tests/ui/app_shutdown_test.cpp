// The shutdown's last word on the list file: a run that ended Done without being
// collected (the loop had already quit) leaves the file, a stopped run stays in
// it, and a shutdown where nothing ended Done leaves the file as it was.
#include "app_shutdown.h"

#include "brindlex/vhandle.h"
#include "concat.h"
#include "queue_checks.h"
#include "test_server.h"
#include "ui_fixture.h"

namespace vtest {
namespace {

class AppShutdownTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        server.Set("/done", Route{.size = 3000});
        // Minutes per file: still running when the shutdown stops it.
        server.Set("/slow", Route{.size = 1 << 20, .bytesPerSecond = 8000});
        maxFiles = 2;
    }

    static bool Ended(DownloadJob* job) {
        return VWait(job->thread, kPatienceMs) == VWAIT_SIGNALLED;
    }

    static bool Receiving(DownloadJob* job) {
        return WaitUntil([job] { return job->status.load() > 0; },
                         std::chrono::milliseconds(kPatienceMs));
    }

    TestServer server;
};

TEST_F(AppShutdownTest, RunThatEndedDoneUncollectedLeavesTheListFileAndAStoppedOneStays) {
    const ListRecord slow{server.Url("/slow"), "slow.bin"};
    DownloadJob* done = AddJob(server.Url("/done"), "done.bin");
    AddJob(slow.url, slow.name);
    SaveJobList();
    // No event loop: nothing collects the runs, as after the loop has quit.
    StartJobs();
    ASSERT_TRUE(Ended(done));
    ASSERT_EQ(done->status.load(), STATUS_DONE);
    ASSERT_TRUE(Receiving(jobList->next));

    StopAndWaitForAllRuns();
    EXPECT_EQ(ListFileText(), RecordLine(slow));
    EXPECT_EQ(CheckBodyPrefix(dir / "done.bin", 3000, /*whole=*/true), "");
    EXPECT_EQ(CheckBodyPrefix(dir / "slow.bin", 1 << 20, /*whole=*/false), "");
}

TEST_F(AppShutdownTest, ShutdownWithNoRunEndedDoneLeavesAHandWrittenListFileAlone) {
    // CR LF line ends and a failed record: a rewrite would change both.
    const std::string handWritten = Concat("\"", server.Url("/slow"), "\" \"a.bin\"\r\n\"",
                                           server.Url("/missing"), "\" \"b.bin\"\r\n");
    WriteWholeFile(listPath, handWritten);
    LoadJobList();
    maxTries = 0;
    StartJobs();
    ASSERT_TRUE(Receiving(jobList));
    DownloadJob* failing = jobList->next;
    ASSERT_TRUE(Ended(failing));
    ASSERT_EQ(failing->status.load(), STATUS_FAILED);

    StopAndWaitForAllRuns();
    EXPECT_EQ(ListFileText(), handWritten);
}

}  // namespace
}  // namespace vtest
