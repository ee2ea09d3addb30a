// Around the list: the status bar's counts and speed, the toolbar, Clear
// finished, the selection after an add and a delete, the double-click, the popup
// from the keyboard, a message when nothing can open a file, and the window's
// place kept in the settings.
#include "window_commands.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>
#include <QWidgetAction>

#include "app_settings.h"
#include "job_actions.h"
#include "job_control.h"
#include "job_view.h"
#include "main_window.h"
#include "modal_driver.h"
#include "new_file_dialog.h"
#include "status_summary.h"
#include "test_server.h"
#include "ui_fixture.h"
#include "view_rows.h"

namespace vtest {
namespace {

class WindowCommandsTest : public UiTest {
protected:
    void TearDown() override {
        VSetSpeedLimit(0);
        windowLeft = windowTop = windowWidth = windowHeight = 0;
        UiTest::TearDown();
    }


    static void Select(MainWindow& window, std::initializer_list<int> rows) {
        window.jobView()->clearSelection();
        for (int row : rows) SelectRow(window, row);
    }

    static QString Current(MainWindow& window) {
        const int row = CurrentRow(window);
        return row >= 0 && IsRowSelected(window, row) ? CellText(window, row, kFileColumn)
                                                      : QString();
    }

    ModalGuard guard;
};

TEST_F(WindowCommandsTest, StatusBarCountsRunningWaitingDoneFailedWithSpeedAndLimit) {
    TestServer server;
    server.Set("/slow.bin", Route{.size = 400000, .bytesPerSecond = 40000});
    AddEnded("done.bin", STATUS_DONE);
    AddEnded("failed.bin", STATUS_FAILED);
    maxTries = 0;  // the failed one stays failed
    AddJob(server.Url("/slow.bin"), "slow.bin");
    AddJob(server.Url("/slow.bin?2"), "wait.bin");
    MainWindow window;
    window.show();
    StartJobs();
    FillJobView(&window);
    window.watcher().Sync();
    auto* summary = window.findChild<StatusSummary*>("statusSummary");
    ASSERT_NE(summary, nullptr);
    EXPECT_TRUE(summary->countsLabel()->isVisibleTo(&window));
    EXPECT_TRUE(LoopUntil([&] {
        return summary->countsLabel()->text() ==
               "Running 1 \u00b7 Waiting 1 \u00b7 Done 1 \u00b7 Failed 1";
    })) << summary->countsLabel()->text().toStdString();
    // The total speed once the running row has one, then the limit of all downloads.
    EXPECT_TRUE(LoopUntil([&] {
        const QString speed = summary->speedLabel()->text();
        return speed.endsWith("/s") && !speed.startsWith("0.00b");
    })) << summary->speedLabel()->text().toStdString();
    VSetSpeedLimit(64 * 1024);
    EXPECT_TRUE(LoopUntil([&] {
        return summary->speedLabel()->text().endsWith(" \u00b7 Limit 64.0K/s");
    })) << summary->speedLabel()->text().toStdString();

    // A pause: the stopped run waits (paused) and the next one runs.
    window.jobActions()->Pause({jobList->next->next});
    EXPECT_TRUE(LoopUntil([&] {
        return summary->countsLabel()->text() ==
                   "Running 1 \u00b7 Waiting 1 \u00b7 Done 1 \u00b7 Failed 1" &&
               jobList->next->next->thread == nullptr;
    }));
}

TEST_F(WindowCommandsTest, ToolbarEntriesShowTheirKeysAndFollowTheSelection) {
    maxFiles = 0;
    AddJob("http://127.0.0.1:9/w", "waiting");
    DownloadJob* paused = AddJob("http://127.0.0.1:9/p", "paused");
    paused->paused = kPaused;
    AddEnded("failed", STATUS_FAILED)->tries = maxTries;
    AddEnded("done", STATUS_DONE);
    MainWindow window;
    window.show();
    FillJobView(&window);
    WindowCommands* commands = window.commands();
    QStringList tips;
    for (QAction* action : commands->toolBar()->actions()) {
        // The filter's boxes follow the commands.
        if (action->isSeparator() || qobject_cast<QWidgetAction*>(action) != nullptr) continue;
        tips << action->toolTip();
        EXPECT_FALSE(action->icon().isNull()) << action->toolTip().toStdString();
    }
    EXPECT_EQ(tips, QStringList({"Add (Ctrl+N)", "Pause (Ctrl+P)", "Resume (Ctrl+R)",
                                 "Retry now (Ctrl+T)", "Delete (Del)", "Preferences (Ctrl+,)"}));

    // Which entries apply: Pause, Resume, Retry now, Delete.
    const struct {
        std::initializer_list<int> rows;
        std::vector<bool> enabled;
    } cases[] = {
        {{}, {false, false, false, false}}, {{0}, {true, false, false, true}},
        {{1}, {false, true, false, true}},  {{2}, {false, false, true, true}},
        {{3}, {false, false, false, true}}, {{0, 1, 2}, {true, true, true, true}},
    };
    for (const auto& c : cases) {
        Select(window, c.rows);
        EXPECT_EQ((std::vector<bool>{
                      commands->pauseEntry()->isEnabled(), commands->resumeEntry()->isEnabled(),
                      commands->retryEntry()->isEnabled(), commands->deleteEntry()->isEnabled()}),
                  c.enabled)
            << "rows " << c.rows.size();
    }
    EXPECT_TRUE(commands->addEntry()->isEnabled());
    EXPECT_TRUE(commands->preferencesEntry()->isEnabled());

    // An entry acts on the selection and the others follow what it changed.
    Select(window, {0});
    commands->pauseEntry()->trigger();
    EXPECT_EQ(jobList->paused, kPaused);
    EXPECT_TRUE(LoopUntil([&] { return commands->resumeEntry()->isEnabled(); }));
    EXPECT_FALSE(commands->pauseEntry()->isEnabled());
}

TEST_F(WindowCommandsTest, ListCommandsKeepTheSelectionWhereTheUserLooks) {
    maxFiles = 0;
    for (const char* name : {"a", "b", "c", "d"})
        AddJob(std::string("http://127.0.0.1:9/") + name, name);
    AddEnded("done1", STATUS_DONE);
    AddEnded("done2", STATUS_DONE);
    WriteWholeFile(dir / "done1", "kept");
    MainWindow window;
    window.show();
    FillJobView(&window);
    QTreeView* view = window.jobView();
    std::vector<QUrl> opened;
    bool handler = true;
    window.openUrl = [&](const QUrl& url) {
        opened.push_back(url);
        return handler;
    };

    // Double-click: a Done row opens its file, another row does nothing.
    DoubleClickRow(window, 0);
    EXPECT_TRUE(opened.empty());
    DoubleClickRow(window, 4);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toLocalFile().toStdString(), dir / "done1");
    // With nothing to open it, the status bar says so.
    handler = false;
    DoubleClickRow(window, 4);
    EXPECT_TRUE(window.statusBar()->currentMessage().startsWith("Could not open "))
        << window.statusBar()->currentMessage().toStdString();

    // Delete: the next row becomes the current one; at the end, the one before.
    Select(window, {1, 2});
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Delete);
    EXPECT_EQ(Current(window), "d");
    SetCurrentRow(window, RowCount(window) - 1);
    window.commands()->deleteEntry()->trigger();
    EXPECT_EQ(Current(window), "done1");

    // Clear finished: the Done rows go (their files stay), the selection stays.
    Select(window, {0});
    window.clearFinishedAction()->trigger();
    EXPECT_EQ(JobCount(), 2);
    EXPECT_EQ(RowCount(window), 2);
    EXPECT_EQ(ReadWholeFile(dir / "done1"), "kept");
    EXPECT_TRUE(IsRowSelected(window, 0));

    // Shift+F10 and the Menu key open the current row's popup, with Clear finished.
    for (const QKeyCombination keys :
         {QKeyCombination(Qt::ShiftModifier, Qt::Key_F10), QKeyCombination(Qt::Key_Menu)}) {
        QStringList entries;
        window.runJobMenu = [&](QMenu& menu, const QPoint&) -> QAction* {
            for (QAction* action : menu.actions()) {
                if (!action->isSeparator()) entries << action->text();
            }
            return nullptr;
        };
        SetCurrentRow(window, 1);
        QTest::keyClick(view, keys.key(), keys.keyboardModifiers());
        EXPECT_TRUE(entries.contains("Delete")) << entries.join(", ").toStdString();
        EXPECT_TRUE(entries.contains("Clear finished"));
    }

    // A new row is selected and shown.
    WhenModal<NewFileDialog>([&](NewFileDialog* dialog) {
        auto* url = dialog->findChild<QLineEdit*>("urlEdit");
        QTest::keyClicks(url, "http://127.0.0.1:9/new.bin");
        QTest::keyClick(url, Qt::Key_Return);
    });
    window.newFileAction()->trigger();
    EXPECT_EQ(Current(window), "new.bin");
    EXPECT_EQ(view->selectionModel()->selectedRows().size(), 1);
}

TEST_F(WindowCommandsTest, WindowSizeAndPlaceComeBackAndAPlaceOffScreenIsLeft) {
    {
        MainWindow window;
        window.endEventLoop = [] {};
        window.show();
        window.setGeometry(QRect(60, 70, 640, 300));
        QTest::qWait(10);
        window.close();  // closing stores them
    }
    EXPECT_EQ(windowWidth, 640);
    EXPECT_EQ(windowHeight, 300);
    {
        MainWindow window;
        EXPECT_EQ(window.geometry(), QRect(60, 70, 640, 300));
    }
    windowLeft = -100000;  // a screen no longer there
    {
        MainWindow window;
        EXPECT_EQ(window.size(), QSize(640, 300));
        EXPECT_NE(window.geometry().topLeft(), QPoint(-100000, 70));
    }
    windowWidth = 0;  // never stored: the default size
    {
        MainWindow window;
        EXPECT_EQ(window.size(), QSize(760, 380));
    }
}

}  // namespace
}  // namespace vtest
