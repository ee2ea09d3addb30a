// The event loop's watch of the runs: ended runs are collected and the next jobs
// started, rows follow the status live but coalesced, and any number of runs can
// be watched at once, also from inside nested loops.
#include <QEventLoop>
#include <QTimer>

#include "concat.h"
#include "job_queue.h"
#include "job_view.h"
#include "list_save_request.h"
#include "main_window.h"
#include "test_server.h"
#include "ui_fixture.h"
#include "view_rows.h"

namespace vtest {
namespace {

class JobWatcherTest : public UiTest {
protected:
    // Starts the scheduler and shows the jobs, as start-up does.
    void StartAndShow(MainWindow& window) {
        window.show();
        StartJobs();
        FillJobView(&window);
        window.watcher().Sync();
    }

    static bool AllCollected() {
        for (DownloadJob* job = jobList; job != nullptr; job = job->next) {
            if (job->thread != nullptr || job->status > STATUS_WAIT) return false;
        }
        return true;
    }

    std::size_t FileSize(const std::string& name) const {
        return FileExists(dir / name) ? std::filesystem::file_size(dir / name) : 0;
    }
};

TEST_F(JobWatcherTest, EndedRunIsCollectedAndTheNextWaitingJobStarted) {
    TestServer server;
    Route route;
    route.size = 3000;
    server.Set("/a", route);
    server.Set("/b", route);
    DownloadJob* a = AddJob(server.Url("/a"), "a.bin");
    DownloadJob* b = AddJob(server.Url("/b"), "b.bin");
    SaveJobList();
    MainWindow window;
    StartAndShow(window);
    EXPECT_NE(a->thread, nullptr);
    EXPECT_EQ(b->thread, nullptr);  // one at a time

    ASSERT_TRUE(LoopUntil([&] { return b->status == STATUS_DONE && AllCollected(); }));
    // b's end came within the save delay of a's, but with nothing left running
    // its save is not held back.
    EXPECT_FALSE(JobListSavePending());
    EXPECT_EQ(a->status, STATUS_DONE);
    EXPECT_EQ(FileSize("a.bin"), 3000u);
    EXPECT_EQ(FileSize("b.bin"), 3000u);
    // b was asked for only after a had ended.
    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(server.Requests()[0].target, "/a");
    // Done jobs leave the file but stay in the view.
    EXPECT_TRUE(LoopUntil([&] { return ListFileText().empty(); }));
    ASSERT_EQ(RowCount(window), 2);
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(CellText(window, row, kStatusColumn), "Done");
        EXPECT_EQ(CellText(window, row, kSizeColumn), "2.93K");
    }
    EXPECT_EQ(window.watcher().WatchCount(), 0u);
}

// GoAsync that makes no thread leaves the job Failed (FOpen) with nothing running:
// no end of a run would ever start it again, so a timer does.
TEST_F(JobWatcherTest, RunThatCouldNotBeStartedIsRetriedWithoutAnyOtherEvent) {
    TestServer server;
    Route route;
    route.size = 1000;
    server.Set("/a", route);
    DownloadJob* a = AddJob(server.Url("/a"), "a.bin");
    static int failures;
    failures = 1;
    struct Seam {
        VHANDLE (*saved)(DownloadJob*) = startRun;
        ~Seam() { startRun = saved; }
    } seam;
    startRun = [](DownloadJob* job) -> VHANDLE {
        if (failures-- <= 0) return job->GoAsync();
        job->status = STATUS_FAILED;  // as GoAsync leaves a job it has no thread for
        job->result = RESULT_OPEN_FAILED;
        return nullptr;
    };
    MainWindow window;
    StartAndShow(window);
    EXPECT_EQ(a->thread, nullptr);
    EXPECT_EQ(a->tries, 0);  // a start that never ran costs no try
    ASSERT_TRUE(LoopUntil([&] { return a->status == STATUS_DONE && AllCollected(); }));
    EXPECT_EQ(FileSize("a.bin"), 1000u);
    EXPECT_EQ(a->tries, 1);  // the retry restarted a failed job
}

TEST_F(JobWatcherTest, HundredConcurrentRunsAreAllWatchedAndCollected) {
    constexpr int kRuns = 100;
    TestServer server;
    Route route;
    route.size = 20000;
    route.bytesPerSecond = 40000;  // half a second each: they overlap
    server.Set("/f", route);
    for (int i = 0; i < kRuns; ++i) {
        AddJob(server.Url(Concat("/f?", std::to_string(i))), Concat("f", std::to_string(i)));
    }
    maxFiles = kRuns;
    MainWindow window;
    StartAndShow(window);
    // Far beyond what a 64-handle wait could hold.
    EXPECT_EQ(window.watcher().WatchCount(), static_cast<std::size_t>(kRuns));

    ASSERT_TRUE(LoopUntil(AllCollected));
    EXPECT_EQ(window.watcher().WatchCount(), 0u);
    int row = 0;
    for (DownloadJob* job = jobList; job != nullptr; job = job->next, ++row) {
        EXPECT_EQ(job->status, STATUS_DONE) << job->fileName;
        EXPECT_EQ(FileSize(job->fileName), 20000u) << job->fileName;
        EXPECT_EQ(CellText(window, row, kStatusColumn), "Done");
    }
    EXPECT_EQ(row, kRuns);
}

TEST_F(JobWatcherTest, RowFollowsTheStatusButRepaintsFarLessOftenThanStatusChanges) {
    constexpr std::uint64_t kSize = 4 << 20;  // 16384 blocks, a status change each
    TestServer server;
    Route route;
    route.size = kSize;
    route.bytesPerSecond = 16 << 20;  // a quarter of a second at least: several repaints
    server.Set("/big", route);
    AddJob(server.Url("/big"), "big.bin");
    MainWindow window;
    QTreeView* view = window.jobView();
    StartAndShow(window);

    int statusTexts = 0;
    bool sawProgress = false;
    QObject::connect(view->model(), &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& from, const QModelIndex& to) {
                         if (from.column() > kStatusColumn || to.column() < kStatusColumn) return;
                         ++statusTexts;
                         const QString text = CellText(window, 0, kStatusColumn);
                         if (text.contains("%)")) sawProgress = true;
                     });
    ASSERT_TRUE(LoopUntil(AllCollected));
    EXPECT_EQ(jobList->status, STATUS_DONE);
    EXPECT_TRUE(sawProgress);
    EXPECT_EQ(CellText(window, 0, kStatusColumn), "Done");
    EXPECT_EQ(CellText(window, 0, kSizeColumn), "4.00Mb");
    // Coalesced: a repaint covers many blocks, however fast or slow the run was.
    EXPECT_GE(statusTexts, 2);
    EXPECT_LT(statusTexts, static_cast<int>(kSize / 256 / 20));
}

TEST_F(JobWatcherTest, RunStartedInsideANestedLoopIsWatchedAndCollectedThere) {
    TestServer server;
    Route route;
    route.size = 1000;
    server.Set("/n", route);
    maxFiles = 0;
    DownloadJob* job = AddJob(server.Url("/n"), "n.bin");
    MainWindow window;
    StartAndShow(window);
    ASSERT_EQ(job->thread, nullptr);

    // Like a dialog that raises the limit and starts the scheduler, then stays open
    // until the run it started has been collected: no Sync is called for it.
    QEventLoop nested;
    bool collectedInside = false;
    QTimer::singleShot(0, [&] {
        maxFiles = 1;
        StartJobs();
        ASSERT_NE(job->thread, nullptr);
        QTimer* poll = new QTimer(&nested);
        QObject::connect(poll, &QTimer::timeout, [&] {
            if (job->thread == nullptr && job->status == STATUS_DONE) {
                collectedInside = true;
                nested.quit();
            }
        });
        poll->start(5);
    });
    QTimer::singleShot(kPatienceMs, &nested, &QEventLoop::quit);
    nested.exec();
    EXPECT_TRUE(collectedInside);
    EXPECT_EQ(CellText(window, 0, kStatusColumn), "Done");
}

}  // namespace
}  // namespace vtest
