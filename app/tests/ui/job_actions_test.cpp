// The row commands beyond Delete, driven through the real window against a local
// server: pause and resume (the resumed request asks for the rest by range),
// Retry now after a burst of 500s, the open and copy commands, and the desktop
// notifications sent when a download has finished.
#include "job_actions.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QInputDialog>
#include <QKeySequence>
#include <QMap>
#include <QMenu>
#include <QStringList>
#include <QUrl>
#include <new>

#include "desktop_notice.h"
#include "job_control.h"
#include "job_texts.h"
#include "job_view.h"
#include "main_window.h"
#include "modal_driver.h"
#include "queue_checks.h"
#include "test_server.h"
#include "ui_fixture.h"
#include "view_rows.h"

namespace vtest {
namespace {

class JobActionsTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        sendDesktopNotice = [this](const QDBusMessage& call) {
            const QList<QVariant> args = call.arguments();
            ASSERT_EQ(args.size(), 8);
            EXPECT_EQ(call.service(), "org.freedesktop.Notifications");
            EXPECT_EQ(call.member(), "Notify");
            notices << args[3].toString() + ": " + args[4].toString().section('\n', 0, 0);
        };
    }
    void TearDown() override {
        UiTest::TearDown();
        sendDesktopNotice = nullptr;
    }

    void Start(MainWindow& window) {
        window.show();
        SaveJobList();
        StartJobs();
        FillJobView(&window);
        window.watcher().Sync();
    }

    // Opens the row's popup on `row` and chooses the entry `text`, recording the
    // enabled entries; "" chooses nothing.
    QStringList Choose(MainWindow& window, int row, const QString& text) {
        QStringList enabled;
        window.runJobMenu = [&](QMenu& menu, const QPoint&) -> QAction* {
            QAction* chosen = nullptr;
            for (QAction* action : menu.actions()) {
                if (action->isEnabled() && !action->isSeparator()) enabled << action->text();
                if (!action->shortcut().isEmpty()) keys[action->text()] = action->shortcut();
                if (action->text() == text) chosen = action;
            }
            return chosen;
        };
        window.ShowJobMenu(RowCentre(window, row));
        return enabled;
    }

    static QString StatusOf(MainWindow& window, int row) {
        return CellText(window, row, kStatusColumn);
    }

    QStringList notices;
    QMap<QString, QKeySequence> keys;  // the keys the popup showed
};

TEST_F(JobActionsTest, PauseStopsAndKeepsTheJobResumeFetchesTheRestByRange) {
    constexpr std::uint64_t kSize = 240000;
    TestServer server;
    server.Set("/slow.bin", Route{.size = kSize, .bytesPerSecond = 80000});
    DownloadJob* job = AddJob(server.Url("/slow.bin"), "slow.bin");
    MainWindow window;
    Start(window);
    ASSERT_TRUE(LoopUntil([&] { return LengthOf(dir / "slow.bin") >= 20000; }));

    const QStringList enabled = Choose(window, 0, "Pause");
    EXPECT_TRUE(enabled.contains("Pause"));
    EXPECT_FALSE(enabled.contains("Resume"));
    EXPECT_FALSE(enabled.contains("Retry now"));
    EXPECT_EQ(keys.value("Pause"), QKeySequence("Ctrl+P"));
    EXPECT_EQ(keys.value("Resume"), QKeySequence("Ctrl+R"));
    EXPECT_TRUE(StatusOf(window, 0).startsWith("Paused ")) << StatusOf(window, 0).toStdString();
    ASSERT_TRUE(LoopUntil([&] { return job->thread == nullptr; }));
    EXPECT_EQ(job->result, RESULT_INTERRUPTED);
    EXPECT_EQ(ListFileText(), RecordLine({server.Url("/slow.bin"), "slow.bin"}));
    const std::uint64_t partial = LengthOf(dir / "slow.bin");
    ASSERT_GT(partial, 0u);
    ASSERT_LT(partial, kSize);
    // The row keeps the bytes held and the share done.
    char size[16];
    EXPECT_EQ(StatusOf(window, 0), QString("Paused %1 (%2%)")
                                       .arg(FormatSize(size, partial))
                                       .arg(partial * 100.0 / kSize, 0, 'f', 1));
    StartJobs();  // passed over while paused
    EXPECT_EQ(job->thread, nullptr);

    // The key shown in the menu, from the keyboard.
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    SelectRow(window, 0);
    QTest::keyClick(window.jobView(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_NE(job->thread, nullptr);
    ASSERT_TRUE(LoopUntil([&] { return job->status == STATUS_DONE && job->thread == nullptr; }));

    const std::vector<RecordedRequest> requests = server.RequestsFor("/slow.bin");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[0].HasHeader("Range"));
    EXPECT_EQ(requests[1].Header("Range"), "bytes=" + std::to_string(partial) + "-");
    EXPECT_EQ(CheckBodyPrefix(dir / "slow.bin", kSize, true), "");
    EXPECT_EQ(job->tries, 0);  // a pause is no failure
    EXPECT_EQ(notices, QStringList({"Download complete: slow.bin"}));
}

TEST_F(JobActionsTest, ResumedBeforeThePausedRunEndedItStartsAgainWithoutATry) {
    constexpr std::uint64_t kSize = 120000;
    TestServer server;
    server.Set("/quick.bin", Route{.size = kSize, .bytesPerSecond = 60000});
    DownloadJob* job = AddJob(server.Url("/quick.bin"), "quick.bin");
    MainWindow window;
    Start(window);
    ASSERT_TRUE(LoopUntil([&] { return LengthOf(dir / "quick.bin") >= 10000; }));
    window.jobActions()->Pause({job});
    window.jobActions()->Resume({job});  // the stop is still under way
    ASSERT_TRUE(LoopUntil([&] { return job->status == STATUS_DONE && job->thread == nullptr; }));
    EXPECT_EQ(server.RequestsFor("/quick.bin").size(), 2u);
    EXPECT_EQ(job->tries, 0);
    EXPECT_EQ(CheckBodyPrefix(dir / "quick.bin", kSize, true), "");
}

TEST_F(JobActionsTest, RetryNowAfterTheTriesRanOutStartsAtOnceAndResumes) {
    maxTries = 2;
    constexpr std::uint64_t kSize = 50000;
    TestServer server;
    server.SetSequence("/r.bin", {Route{.status = 500}, Route{.status = 500}, Route{.status = 500},
                                  Route{.size = kSize}});
    WriteWholeFile(dir / "r.bin", Body(0, 1000));
    DownloadJob* job = AddJob(server.Url("/r.bin"), "r.bin");
    MainWindow window;
    Start(window);
    ASSERT_TRUE(LoopUntil([&] {
        return server.RequestsFor("/r.bin").size() == 3 && job->thread == nullptr &&
               job->status == STATUS_FAILED;
    }));
    EXPECT_EQ(job->tries, 2);
    EXPECT_EQ(notices, QStringList({"Download failed: r.bin"}));

    const QStringList enabled = Choose(window, 0, "Retry now");
    EXPECT_TRUE(enabled.contains("Retry now"));
    EXPECT_FALSE(enabled.contains("Pause"));
    EXPECT_NE(job->thread, nullptr);  // at once
    EXPECT_EQ(job->tries, 0);
    EXPECT_EQ(CellText(window, 0, kLastErrorColumn), "");
    ASSERT_TRUE(LoopUntil([&] { return job->status == STATUS_DONE && job->thread == nullptr; }));

    const std::vector<RecordedRequest> requests = server.RequestsFor("/r.bin");
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[3].Header("Range"), "bytes=1000-");
    EXPECT_EQ(CheckBodyPrefix(dir / "r.bin", kSize, true), "");
    EXPECT_EQ(notices, QStringList({"Download failed: r.bin", "Download complete: r.bin"}));
}

TEST_F(JobActionsTest, OpenFileOpenFolderAndCopyUrlActOnTheSelectedRows) {
    TestServer server;
    server.Set("/a.bin", Route{.size = 100});
    DownloadJob* done = AddJob(server.Url("/a.bin"), "a.bin");
    MainWindow window;
    QList<QUrl> opened;
    window.openUrl = [&](const QUrl& url) {
        opened << url;
        return true;
    };
    Start(window);
    ASSERT_TRUE(LoopUntil([&] { return done->status == STATUS_DONE && done->thread == nullptr; }));
    AddJob("http://127.0.0.1:9/b", "sub/b.bin");  // waiting, never started
    FillJobView(&window);
    const QString folder = QDir::currentPath();

    SelectRow(window, 1);
    QStringList enabled = Choose(window, 1, "Open file");
    EXPECT_EQ(enabled, QStringList({"Delete", "Pause", "Speed limit\u2026", "Open folder",
                                    "Copy URL", "Clear finished"}));
    EXPECT_TRUE(opened.isEmpty());  // only a Done download is opened

    SelectRow(window, 0);
    enabled = Choose(window, 0, "Open file");
    EXPECT_EQ(enabled, QStringList({"Delete", "Pause", "Speed limit\u2026", "Open file",
                                    "Open folder", "Copy URL", "Clear finished"}));
    EXPECT_EQ(opened, QList<QUrl>({QUrl::fromLocalFile(folder + "/a.bin")}));

    opened.clear();
    Choose(window, 0, "Open folder");
    EXPECT_EQ(opened,
              QList<QUrl>({QUrl::fromLocalFile(folder), QUrl::fromLocalFile(folder + "/sub")}));

    Choose(window, 1, "Copy URL");
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QString::fromStdString(server.Url("/a.bin")) + "\nhttp://127.0.0.1:9/b");
    EXPECT_TRUE(notices.size() == 1 && notices[0].startsWith("Download complete"));
}

TEST_F(JobActionsTest, NoticeShowsAFileNameAsTextNotMarkup) {
    const QDBusMessage call = DesktopNoticeCall("Download complete", "a&b <i>.bin");
    ASSERT_EQ(call.arguments().size(), 8);
    EXPECT_EQ(call.arguments()[0].toString(), "Vantorel");
    EXPECT_EQ(call.arguments()[4].toString(), "a&amp;b &lt;i&gt;.bin");
    EXPECT_EQ(call.arguments()[7].toInt(), -1);
}

TEST_F(JobActionsTest, ABurstOfFinishedDownloadsGetsAFewNoticesAndOneSummary) {
    TestServer server;
    std::vector<DownloadJob*> jobs;
    for (int i = 0; i < 7; ++i) {
        const std::string name = "n" + std::to_string(i) + ".bin";
        server.Set("/" + name, Route{.size = 1000});
        jobs.push_back(AddJob(server.Url("/" + name), name));
    }
    maxFiles = 7;
    desktopNoticeWindowMs = 3000;  // longer than the seven take, shorter than the wait
    MainWindow window;
    Start(window);
    const auto allDone = [&] {
        for (DownloadJob* job : jobs) {
            if (job->status != STATUS_DONE || job->thread != nullptr) return false;
        }
        return true;
    };
    ASSERT_TRUE(LoopUntil(allDone));
    ASSERT_EQ(notices.size(), kNoticesPerWindow);
    for (const QString& notice : notices) EXPECT_TRUE(notice.startsWith("Download complete: n"));
    ASSERT_TRUE(LoopUntil([&] { return notices.size() == kNoticesPerWindow + 1; }));
    EXPECT_EQ(notices.back(), "Downloads finished: 4 more downloads complete");
}

TEST_F(JobActionsTest, SpeedLimitFromThePopupHoldsThatDownloadAloneAtOnce) {
    constexpr std::uint64_t kSize = 1 << 20;
    TestServer server;
    server.Set("/f.bin", Route{.size = kSize});
    DownloadJob* job = AddJob(server.Url("/f.bin"), "f.bin");
    MainWindow window;
    maxFiles = 0;  // the limit is set before the run starts
    Start(window);
    WhenModal<QInputDialog>([](QInputDialog* dialog) {
        EXPECT_EQ(dialog->intValue(), 0);
        dialog->setIntValue(16);
        dialog->accept();
    });
    EXPECT_TRUE(Choose(window, 0, "Speed limit\u2026").contains("Speed limit\u2026"));
    EXPECT_EQ(job->speedLimit.load(), 16u * 1024);
    maxFiles = 1;
    StartJobs();
    QTest::qWait(1000);
    EXPECT_LT(LengthOf(dir / "f.bin"), 48u * 1024);  // 16 KiB/s, not the whole MiB
    // Taken away, it applies to the run in progress.
    JobActions::SetSpeedLimit({job}, 0);
    EXPECT_TRUE(LoopUntil([&] { return job->status == STATUS_DONE; }));
}

TEST_F(JobActionsTest, PopupNeverActsOnANewJobAtADeletedOnesAddress) {
    maxFiles = 0;
    for (const QString entry : {"Delete", "Pause"}) {
        SCOPED_TRACE(entry.toStdString());
        DownloadJob* old = AddJob("http://127.0.0.1:9/old", "old.bin");
        MainWindow window;
        Start(window);
        window.runJobMenu = [&](QMenu& menu, const QPoint&) -> QAction* {
            // While the popup is open its job goes and a new one is made in the
            // same memory: the queue, its list taken away by hand, forgets the old
            // one, whose storage then holds a job built afresh.
            jobList = nullptr;
            old->~DownloadJob();
            new (old) DownloadJob();
            old->SetURL("http://127.0.0.1:9/new");
            SetJobFileName(old, "new.bin");
            AppendJob(old);
            FillJobView(&window);
            for (QAction* action : menu.actions()) {
                if (action->text() == entry) return action;
            }
            return nullptr;
        };
        window.ShowJobMenu(RowCentre(window, 0));
        ASSERT_EQ(jobList, old);
        EXPECT_STREQ(jobList->url, "http://127.0.0.1:9/new");
        EXPECT_EQ(jobList->paused, kNotPaused);
        RemoveJob(old);
    }
}

}  // namespace
}  // namespace vtest
