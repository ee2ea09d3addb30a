// The user's flows through the window's own menu, end to end against a local
// server: a download added with New File goes through its statuses to Done, and a
// run that ends while Preferences is open is collected and followed by the next
// job although the dialog was cancelled.
#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStringList>

#include "concat.h"
#include "job_texts.h"
#include "job_view.h"
#include "main_window.h"
#include "modal_driver.h"
#include "new_file_dialog.h"
#include "preferences_dialog.h"
#include "test_server.h"
#include "ui_fixture.h"
#include "view_rows.h"

namespace vtest {
namespace {

class UserFlowTest : public UiTest {
protected:
    ModalGuard guard;
};

TEST_F(UserFlowTest, NewFileDownloadGoesThroughItsStatusesToDoneByteForByte) {
    constexpr std::uint64_t kSize = 200000;
    TestServer server;
    Route route;
    route.size = kSize;
    route.bytesPerSecond = 400000;  // half a second: the row shows it arriving
    server.Set("/pub/data.bin", route);
    MainWindow window;
    window.show();

    // Every Status text the row shows, in order.
    QStringList statuses;
    QObject::connect(window.jobView()->model(), &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& from, const QModelIndex& to) {
                         if (from.column() > kStatusColumn || to.column() < kStatusColumn) return;
                         for (int row = from.row(); row <= to.row(); ++row) {
                             const QString text = CellText(window, row, kStatusColumn);
                             if (statuses.isEmpty() || statuses.last() != text) {
                                 statuses.append(text);
                             }
                         }
                     });

    WhenModal<NewFileDialog>([&](NewFileDialog* dialog) {
        auto* url = dialog->findChild<QLineEdit*>("urlEdit");
        url->setFocus();
        QTest::keyClicks(url, QString::fromStdString(server.Url("/pub/data.bin")));
        EXPECT_EQ(dialog->findChild<QLineEdit*>("fileEdit")->text(), "data.bin");
        QTest::keyClick(url, Qt::Key_Return);
    });
    window.newFileAction()->trigger();

    // Added, shown and saved at once.
    ASSERT_EQ(RowCount(window), 1);
    EXPECT_EQ(CellText(window, 0, kUrlColumn).toStdString(), server.Url("/pub/data.bin"));
    EXPECT_EQ(CellText(window, 0, kFileColumn), "data.bin");
    EXPECT_EQ(ListFileText(), Concat("\"", server.Url("/pub/data.bin"), "\" \"data.bin\"\n"));

    ASSERT_TRUE(
        LoopUntil([&] { return jobList->status == STATUS_DONE && jobList->thread == nullptr; }));
    EXPECT_EQ(CellText(window, 0, kStatusColumn), "Done");
    EXPECT_EQ(CellText(window, 0, kSizeColumn), FormatSize(textBuffer, kSize));
    EXPECT_EQ(ReadWholeFile(dir / "data.bin"), Body(0, kSize));
    EXPECT_TRUE(LoopUntil([&] { return ListFileText().empty(); }));  // a Done job leaves the file

    // Waiting or opening, then the bytes arriving with a rising percentage (and
    // the speed once it is known), then Done.
    ASSERT_GE(statuses.size(), 3) << statuses.join(" | ").toStdString();
    EXPECT_EQ(statuses.last(), "Done");
    // Once measured, the speed and time left follow: "1.50K (15.0%) 300K/s 0:01".
    const QRegularExpression progress(R"(^\S+ \((\d+\.\d)%\)( \S+/s( \d+:\d\d)?)?$)");
    double lastPercent = -1;
    int progressTexts = 0;
    for (const QString& text : statuses.mid(0, statuses.size() - 1)) {
        const QRegularExpressionMatch match = progress.match(text);
        if (!match.hasMatch()) {
            EXPECT_EQ(progressTexts, 0) << "a status after the data began: " << text.toStdString();
            EXPECT_NE(text, "Failed");
            continue;
        }
        const double percent = match.captured(1).toDouble();
        EXPECT_GE(percent, lastPercent) << statuses.join(" | ").toStdString();
        lastPercent = percent;
        ++progressTexts;
    }
    EXPECT_GE(progressTexts, 2) << statuses.join(" | ").toStdString();
}

TEST_F(UserFlowTest, RunEndingWhilePreferencesIsOpenIsCollectedAndTheNextStartedAfterCancel) {
    TestServer server;
    Route quick;
    quick.size = 40000;
    quick.bytesPerSecond = 100000;
    server.Set("/quick", quick);
    Route slow;
    slow.size = 1 << 20;
    slow.bytesPerSecond = 20000;
    server.Set("/slow", slow);
    DownloadJob* first = AddJob(server.Url("/quick"), "quick.bin");
    DownloadJob* next = AddJob(server.Url("/slow"), "slow.bin");
    SaveJobList();
    maxFiles = 1;
    MainWindow window;
    window.show();
    StartJobs();
    FillJobView(&window);
    window.watcher().Sync();
    ASSERT_NE(first->thread, nullptr);
    ASSERT_EQ(next->thread, nullptr);

    WhenModal<PreferencesDialog>([&](PreferencesDialog* dialog) {
        dialog->findChild<QLineEdit*>("maxFilesEdit")->setText("7");  // to be thrown away
        EXPECT_TRUE(LoopUntil([&] { return first->status == STATUS_DONE; }));
        QTest::mouseClick(dialog->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
    });
    window.preferencesAction()->trigger();

    EXPECT_EQ(maxFiles, 1);
    ASSERT_TRUE(LoopUntil([&] { return first->thread == nullptr && next->status >= 0; }));
    EXPECT_EQ(ReadWholeFile(dir / "quick.bin"), Body(0, 40000));
    // The save after a Done run is written on a thread of its own, a moment later.
    const std::string onlySlow = Concat("\"", server.Url("/slow"), "\" \"slow.bin\"\n");
    EXPECT_TRUE(LoopUntil([&] { return ListFileText() == onlySlow; })) << ListFileText();
    EXPECT_EQ(CellText(window, 0, kStatusColumn), "Done");
    EXPECT_NE(next->thread, nullptr);
}

}  // namespace
}  // namespace vtest
