// The main window: its menu and list, and which ways of leaving store the
// column widths.
#include "main_window.h"

#include <QAction>
#include <QDialog>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QTreeView>

#include "job_view.h"
#include "list_file.h"
#include "list_save.h"
#include "ui_fixture.h"
#include "view_rows.h"

namespace vtest {
namespace {

class MainWindowTest : public UiTest {
protected:
    // A window whose requests to end the event loop are counted.
    void Show(MainWindow& window) {
        window.endEventLoop = [this] { ++loopEnds; };
        window.show();
    }
    int loopEnds = 0;
};

TEST_F(MainWindowTest, HasTheFileMenuAndAFlatListWithTheStoredWidths) {
    const int widths[kColumnCount] = {210, 120, 90, 80, 60};
    std::copy(std::begin(widths), std::end(widths), colWidths);
    MainWindow window;
    Show(window);
    EXPECT_EQ(window.windowTitle(), "Vantorel 1.2");

    const QList<QAction*> menus = window.menuBar()->actions();
    ASSERT_EQ(menus.size(), 1);
    EXPECT_EQ(menus[0]->text(), "&File");
    QStringList entries;
    for (QAction* action : menus[0]->menu()->actions()) {
        entries << (action->isSeparator() ? QString("-") : action->text());
    }
    EXPECT_EQ(entries,
              QStringList({"&New File", "&Preferences", "Clear &finished", "-", "E&xit"}));

    QTreeView* view = window.jobView();
    ASSERT_EQ(window.centralWidget(), view);
    ASSERT_EQ(view->model()->columnCount(), kColumnCount);
    const char* headings[kColumnCount] = {"URL", "File", "Status", "LastError", "Size"};
    for (int column = 0; column < kColumnCount; ++column) {
        EXPECT_EQ(view->model()->headerData(column, Qt::Horizontal).toString(), headings[column]);
        EXPECT_EQ(view->header()->sectionSize(column), widths[column]);
    }
    // Sorted only by a header click: the queue's order at first.
    EXPECT_EQ(view->header()->sortIndicatorSection(), -1);
    EXPECT_FALSE(view->rootIsDecorated());
    EXPECT_EQ(view->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(view->selectionMode(), QAbstractItemView::ExtendedSelection);
}

TEST_F(MainWindowTest, ClosingStoresTheColumnWidthsAndEndsTheLoop) {
    MainWindow window;
    Show(window);
    window.jobView()->header()->resizeSection(0, 300);
    window.jobView()->header()->resizeSection(4, 75);
    window.close();
    EXPECT_EQ(loopEnds, 1);
    EXPECT_EQ(colWidths[0], 300);
    EXPECT_EQ(colWidths[1], 50);
    EXPECT_EQ(colWidths[4], 75);
}

TEST_F(MainWindowTest, ExitEndsTheLoopLeavingTheWidthsReadAtStartUp) {
    MainWindow window;
    Show(window);
    window.jobView()->header()->resizeSection(0, 300);
    window.exitAction()->trigger();
    EXPECT_EQ(loopEnds, 1);
    for (int width : colWidths) EXPECT_EQ(width, 50);
}

TEST_F(MainWindowTest, ShutdownSignalClosesAnOpenDialogThenTheWindow) {
    MainWindow window;
    Show(window);
    window.jobView()->header()->resizeSection(2, 140);
    QDialog dialog(&window);
    QTimer::singleShot(0, &window, [&] { window.CloseForShutdownSignal(); });
    // The dialog's own loop returns: nothing is left waiting for the user.
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(loopEnds, 1);
    EXPECT_EQ(colWidths[2], 140);
}

TEST_F(MainWindowTest, UrlsFromOutsideAreQueuedWithOneSaveUnderFreeNames) {
    maxFiles = 0;
    MainWindow window;
    Show(window);
    const unsigned long long saves = JobListSaveCount();
    window.AddUrlsFromOutside(
        {"http://127.0.0.1:9/a.bin", "http://127.0.0.1:9/b.bin", "http://127.0.0.1:9/a.bin"});
    EXPECT_EQ(JobListSaveCount(), saves + 1);
    ASSERT_EQ(RowCount(window), 3);
    EXPECT_EQ(CellText(window, 2, kFileColumn), "a (1).bin");

    // The same through the hand-off from another start of the program.
    std::vector<HandedDownload> handed(3);
    for (std::size_t i = 0; i < handed.size(); ++i) {
        handed[i].url = "http://127.0.0.1:9/h" + std::to_string(i) + ".bin";
    }
    const unsigned long long before = JobListSaveCount();
    const std::vector<NewFileOutcome> outcomes = window.AddDownloadsFromOutside(handed);
    EXPECT_EQ(JobListSaveCount(), before + 1);
    EXPECT_EQ(outcomes, std::vector<NewFileOutcome>(3, kJobAdded));
    EXPECT_EQ(RowCount(window), 6);
}

}  // namespace
}  // namespace vtest
