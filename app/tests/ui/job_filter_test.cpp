// The sort and the filter over the rows: the commands act on the rows the user
// sees, the queue keeps its order, and the filter chosen comes back at the next
// start.
#include "job_filter.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QTreeView>
#include <QUrl>
#include <string>
#include <vector>

#include "app_settings.h"
#include "job_control.h"
#include "job_view.h"
#include "main_window.h"
#include "ui_fixture.h"
#include "view_filter_bar.h"
#include "view_rows.h"

namespace vtest {
namespace {

class JobFilterTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        iniPath = dir / "vantorel.ini";
        viewFilter = "All";
        maxFiles = 0;  // nothing starts: every row stays as set
    }
    void TearDown() override {
        viewFilter = "All";
        UiTest::TearDown();
    }

    // The file names of the queue, in its order.
    static std::vector<std::string> QueueNames() {
        std::vector<std::string> names;
        for (DownloadJob* job = jobList; job != nullptr; job = job->next) {
            names.emplace_back(job->fileName);
        }
        return names;
    }

    // The file names of the rows shown, top to bottom.
    static std::vector<std::string> ShownNames(MainWindow& window) {
        std::vector<std::string> names;
        for (int row = 0; row < RowCount(window); ++row) {
            names.push_back(CellText(window, row, kFileColumn).toStdString());
        }
        return names;
    }

    static void ChooseFilter(MainWindow& window, ViewFilter filter) {
        window.filterBar()->stateBox()->setCurrentIndex(static_cast<int>(filter));
    }
};

using Names = std::vector<std::string>;

TEST_F(JobFilterTest, SortAndFilterKeepEveryCommandOnTheRowsTheUserSees) {
    AddEnded("b-done", STATUS_DONE);
    AddEnded("d-wait", STATUS_WAIT);
    AddEnded("a-done", STATUS_DONE);
    AddEnded("e-failed", STATUS_FAILED);
    AddEnded("c-done", STATUS_DONE);
    AddEnded("f-wait", STATUS_WAIT);
    MainWindow window;
    window.show();
    FillJobView(&window);
    std::vector<QUrl> opened;
    window.openUrl = [&](const QUrl& url) {
        opened.push_back(url);
        return true;
    };

    // A header click sorts the view, never the queue.
    window.jobView()->sortByColumn(kFileColumn, Qt::DescendingOrder);
    EXPECT_EQ(ShownNames(window), (Names{"f-wait", "e-failed", "d-wait", "c-done", "b-done", "a-done"}));
    EXPECT_EQ(QueueNames(), (Names{"b-done", "d-wait", "a-done", "e-failed", "c-done", "f-wait"}));

    // Delete takes the row shown on top; the sort stays and the next row is current.
    SetCurrentRow(window, 0);
    QTest::keyClick(window.jobView(), Qt::Key_Delete);
    EXPECT_EQ(QueueNames(), (Names{"b-done", "d-wait", "a-done", "e-failed", "c-done"}));
    EXPECT_EQ(ShownNames(window), (Names{"e-failed", "d-wait", "c-done", "b-done", "a-done"}));
    EXPECT_EQ(CurrentRow(window), 0);

    // Only the Done rows, still sorted: the popup, the double-click and the
    // selection all name the rows shown.
    ChooseFilter(window, ViewFilter::kDone);
    EXPECT_EQ(ShownNames(window), (Names{"c-done", "b-done", "a-done"}));
    DoubleClickRow(window, 2);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].fileName(), "a-done");
    window.runJobMenu = [](QMenu& menu, const QPoint&) -> QAction* {
        for (QAction* action : menu.actions()) {
            if (action->text() == "Delete") return action;
        }
        return nullptr;
    };
    window.ShowJobMenu(RowCentre(window, 1));
    EXPECT_EQ(QueueNames(), (Names{"d-wait", "a-done", "e-failed", "c-done"}));
    SetCurrentRow(window, 1);
    EXPECT_EQ(SelectedJobs(&window), std::vector<DownloadJob*>{jobList->next});

    // A text narrows the rows further, by URL or name; All brings every row back.
    window.filterBar()->textBox()->setText("C-D");
    EXPECT_EQ(ShownNames(window), (Names{"c-done"}));
    ChooseFilter(window, ViewFilter::kAll);
    window.filterBar()->textBox()->setText("127.0.0.1:9/e");
    EXPECT_EQ(ShownNames(window), (Names{"e-failed"}));
    window.filterBar()->textBox()->clear();
    EXPECT_EQ(RowCount(window), 4);
}

TEST_F(JobFilterTest, TheFilterChosenComesBackAtTheNextStartAndAnUnknownOneIsAll) {
    AddEnded("done", STATUS_DONE);
    AddEnded("failed", STATUS_FAILED);
    AddEnded("waiting", STATUS_WAIT);
    {
        MainWindow window;
        FillJobView(&window);
        ChooseFilter(window, ViewFilter::kFailed);
        EXPECT_EQ(ShownNames(window), (Names{"failed"}));
    }
    ASSERT_TRUE(SaveSettings());
    viewFilter = "";
    LoadSettings();
    struct Case {
        const char* stored;  // nullptr: as the last window left it
        const char* shown;
        Names rows;
    };
    const Case cases[] = {
        {nullptr, "Failed", {"failed"}},
        {"Bogus", "All", {"done", "failed", "waiting"}},
        {"Done", "Done", {"done"}},
    };
    for (const Case& c : cases) {
        if (c.stored != nullptr) viewFilter = c.stored;
        MainWindow window;
        FillJobView(&window);
        EXPECT_EQ(window.filterBar()->stateBox()->currentText(), c.shown) << c.shown;
        EXPECT_EQ(ShownNames(window), c.rows) << c.shown;
        EXPECT_EQ(viewFilter, c.shown);
    }
}

}  // namespace
}  // namespace vtest
