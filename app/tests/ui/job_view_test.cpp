// The list of jobs: the delete rules of the right-click menu and the Delete key,
// and which texts fill, refresh and row updates produce.
#include "job_view.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <set>
#include <vector>

#include "job_texts.h"
#include "main_window.h"
#include "test_server.h"
#include "ui_fixture.h"
#include "view_rows.h"

namespace vtest {
namespace {

class JobViewTest : public UiTest {
protected:
    // `count` idle jobs (nothing starts them) whose output files already exist.
    void AddIdleJobs(int count) {
        for (int i = 0; i < count; ++i) {
            const std::string name = "file" + std::to_string(i);
            AddJob("http://127.0.0.1:9/" + name, name);
            WriteWholeFile(dir / name, "partial");
        }
    }

    // Indexes of the selected rows.
    std::set<int> SelectedRows(MainWindow& window) {
        std::set<int> rows;
        for (int row = 0; row < RowCount(window); ++row) {
            if (IsRowSelected(window, row)) rows.insert(row);
        }
        return rows;
    }

    // The numbers in the file names of the listed jobs, in list order.
    static std::vector<int> RemainingJobs() {
        std::vector<int> numbers;
        for (DownloadJob* job = jobList; job != nullptr; job = job->next) {
            numbers.push_back(std::stoi(job->fileName + 4));
        }
        return numbers;
    }

    // A right click the way the mouse makes one: the press and release, then the
    // context-menu request.
    static void RightClick(MainWindow& window, QPoint pos) {
        QWidget* viewport = window.jobView()->viewport();
        QTest::mouseClick(viewport, Qt::RightButton, Qt::NoModifier, pos);
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, viewport->mapToGlobal(pos));
        QApplication::sendEvent(viewport, &event);
    }

};

struct RightClickCase {
    const char* name;
    std::set<int> selectedBefore;
    int clickedRow;  // -1: below the last row
    bool menuShown;
    std::set<int> selectedAtMenu;  // when the menu is shown
    std::vector<int> remainingAfterDelete;
};

TEST_F(JobViewTest, RightClickSelectsByTheMenuRulesAndDeletesTheSelection) {
    const RightClickCase cases[] = {
        {"unselected row with two others selected", {0, 2}, 1, true, {1}, {0, 2, 3}},
        {"selected row keeps the whole selection", {0, 2}, 2, true, {0, 2}, {1, 3}},
        {"below the last row", {0, 2}, -1, false, {}, {0, 1, 2, 3}},
    };
    maxFiles = 0;  // the jobs stay idle: deleting removes them at once
    for (const RightClickCase& c : cases) {
        SCOPED_TRACE(c.name);
        AddIdleJobs(4);
        MainWindow window;
        window.show();
        FillJobView(&window);
        for (int row : c.selectedBefore) SelectRow(window, row);

        int shown = 0;
        std::set<int> selectedAtMenu;
        window.runJobMenu = [&](QMenu& menu, const QPoint&) -> QAction* {
            ++shown;
            selectedAtMenu = SelectedRows(window);
            // Delete comes first; the row commands follow it (job_actions_test).
            EXPECT_EQ(menu.actions().value(0)->text(), "Delete");
            return menu.actions().value(0);
        };
        const QPoint below(10, window.jobView()->viewport()->height() - 2);
        RightClick(window, c.clickedRow >= 0 ? RowCentre(window, c.clickedRow) : below);

        EXPECT_EQ(shown, c.menuShown ? 1 : 0);
        if (c.menuShown) {
            EXPECT_EQ(selectedAtMenu, c.selectedAtMenu);
        }
        EXPECT_EQ(RemainingJobs(), c.remainingAfterDelete);
        EXPECT_EQ(RowCount(window),
                  static_cast<int>(c.remainingAfterDelete.size()));
        // Deleting never touches an output file.
        for (int i = 0; i < 4; ++i) EXPECT_TRUE(FileExists(dir / ("file" + std::to_string(i))));
        DestroyAllJobs();
    }
}

TEST_F(JobViewTest, RunCollectedWhileTheMenuIsOpenLeavesDeleteTheRowsChosenBefore) {
    maxFiles = 0;
    AddIdleJobs(4);
    MainWindow window;
    window.show();
    FillJobView(&window);
    for (int row : {1, 3}) SelectRow(window, row);
    window.runJobMenu = [&](QMenu& menu, const QPoint&) -> QAction* {
        // The menu's own loop collects the ended run of a job marked for removal:
        // the rows are rebuilt (the selection with them) and shift up by one.
        jobList->deleteMark = 1;
        OnJobEnded(&window, jobList);
        for (QAction* action : menu.actions()) {
            if (action->text() == "Delete") return action;
        }
        return nullptr;
    };
    RightClick(window, RowCentre(window, 3));
    EXPECT_EQ(RemainingJobs(), (std::vector<int>{2}));
    EXPECT_EQ(RowCount(window), 1);
    EXPECT_EQ(ListFileText(), "\"http://127.0.0.1:9/file2\" \"file2\"\n");
}

TEST_F(JobViewTest, MenuNotChosenDeletesNothing) {
    maxFiles = 0;
    AddIdleJobs(2);
    MainWindow window;
    window.show();
    FillJobView(&window);
    window.runJobMenu = [](QMenu&, const QPoint&) -> QAction* { return nullptr; };
    RightClick(window, RowCentre(window, 1));
    EXPECT_EQ(RemainingJobs(), (std::vector<int>{0, 1}));
}

TEST_F(JobViewTest, DeleteKeyWithNothingSelectedRebuildsViewAndRewritesListFile) {
    maxFiles = 0;
    AddIdleJobs(2);
    MainWindow window;
    window.show();
    FillJobView(&window);
    WriteWholeFile(listPath, "stale");
    jobList->totalSize = 1024;  // not shown until the rows are rebuilt

    QTest::keyClick(window.jobView(), Qt::Key_Delete);

    EXPECT_EQ(ListFileText(),
              "\"http://127.0.0.1:9/file0\" \"file0\"\n\"http://127.0.0.1:9/file1\" \"file1\"\n");
    EXPECT_EQ(CellText(window, 0, kStatusColumn), "Wait");
    EXPECT_EQ(CellText(window, 0, kSizeColumn), "1.00K");
    EXPECT_EQ(JobCount(), 2);
}

TEST_F(JobViewTest, RunningJobDeletedStaysUntilItsRunEndsThenLeavesViewAndListFile) {
    TestServer server;
    Route slow;
    slow.size = 1 << 20;
    slow.bytesPerSecond = 20000;  // runs far longer than the test needs
    server.Set("/slow", slow);
    AddJob(server.Url("/slow"), "slow.bin");
    AddJob(server.Url("/other"), "other.bin");  // 404: fails, is kept
    maxTries = 0;
    SaveJobList();
    MainWindow window;
    window.show();
    StartJobs();
    FillJobView(&window);
    window.watcher().Sync();
    DownloadJob* running = jobList;
    ASSERT_TRUE(LoopUntil([&] { return running->status.load() >= 0; }));

    SelectRow(window, 0);
    QTest::keyClick(window.jobView(), Qt::Key_Delete);

    // Still listed and shown (unselected) until the run has ended, but gone from
    // the file at once: a quit before that end must not bring it back.
    EXPECT_EQ(jobList, running);
    EXPECT_EQ(RowCount(window), 2);
    EXPECT_FALSE(IsRowSelected(window, 0));
    EXPECT_EQ(ListFileText().find("slow.bin"), std::string::npos);

    ASSERT_TRUE(LoopUntil([&] { return jobList != running; }));
    EXPECT_EQ(RowCount(window), 1);
    EXPECT_EQ(CellText(window, 0, kFileColumn), "other.bin");
    EXPECT_EQ(ListFileText().find("slow.bin"), std::string::npos);
    EXPECT_NE(ListFileText().find("other.bin"), std::string::npos);
    // The partial file stays.
    EXPECT_GT(std::filesystem::file_size(dir / "slow.bin"), 0u);
    // Its removal started the next job, which failed (404) and was collected.
    ASSERT_TRUE(
        LoopUntil([&] { return jobList->thread == nullptr && jobList->status == STATUS_FAILED; }));
    EXPECT_EQ(window.watcher().WatchCount(), 0u);
}

TEST_F(JobViewTest, TextsAreProducedByFillRefreshAndRowUpdateOnlyNeverByPainting) {
    maxFiles = 0;
    DownloadJob* job = AddJob("http://127.0.0.1:9/gone", "gone.html");
    // As after a first failure with 404 and one restart.
    job->status = STATUS_FAILED;
    job->result = 404;
    job->tries = 1;
    job->totalSize = 1536;
    MainWindow window;
    window.show();

    FillJobView(&window);
    EXPECT_EQ(CellText(window, 0, kUrlColumn), "http://127.0.0.1:9/gone");
    EXPECT_EQ(CellText(window, 0, kFileColumn), "gone.html");
    EXPECT_EQ(CellText(window, 0, kStatusColumn), "Failed");
    EXPECT_EQ(CellText(window, 0, kLastErrorColumn), "NotFound:1");
    EXPECT_EQ(CellText(window, 0, kSizeColumn), "1.50K");
    EXPECT_EQ(job->tries, 21);

    // Painting reads the stored texts: the 404 rule does not run again.
    for (int i = 0; i < 3; ++i) window.jobView()->viewport()->grab();
    EXPECT_EQ(job->tries, 21);

    // A row update renews Status and Size only.
    job->status = 512;
    job->totalSize = SIZE_UNKNOWN;
    UpdateJobRow(&window, job, 0);
    EXPECT_EQ(CellText(window, 0, kStatusColumn), "512b");
    EXPECT_EQ(CellText(window, 0, kLastErrorColumn), "NotFound:1");
    EXPECT_EQ(CellText(window, 0, kSizeColumn), "?");
    EXPECT_EQ(job->tries, 21);

    // A refresh renews LastError too.
    RefreshJobView(&window);
    EXPECT_EQ(CellText(window, 0, kLastErrorColumn), "NotFound:21");
    EXPECT_EQ(job->tries, 41);
}

}  // namespace
}  // namespace vtest

namespace vtest {
namespace {

TEST_F(JobViewTest, ABatchOfRowUpdatesIsAnnouncedOncePerRunOfAdjacentRows) {
    maxFiles = 0;
    AddIdleJobs(6);
    MainWindow window;
    FillJobView(&window);
    std::vector<std::pair<int, int>> spans;
    QObject::connect(JobModelOf(&window), &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& from, const QModelIndex& to) {
                         spans.emplace_back(from.row(), to.row());
                     });
    std::vector<DownloadJob*> jobs;
    for (DownloadJob* job = jobList; job != nullptr; job = job->next) {
        job->status = 100;
        jobs.push_back(job);
    }

    UpdateJobRowsOf(&window, {jobs[4], jobs[0], jobs[1], jobs[5], jobs[2], jobs[0]});

    EXPECT_EQ(spans, (std::vector<std::pair<int, int>>{{0, 2}, {4, 5}}));
    EXPECT_EQ(CellText(window, 4, kStatusColumn), "100b");
    // A row outside the batch keeps what it showed: data() never reads the job.
    EXPECT_EQ(CellText(window, 3, kStatusColumn), "Wait");
    for (DownloadJob* job : jobs) job->status = STATUS_WAIT;
}

}  // namespace
}  // namespace vtest
