// Beyond the five texts: the Status cell's progress bar, the speed tooltip of a
// running row, and New File for a URL dropped on the window.
#include "job_list_extras.h"

#include <QDropEvent>
#include <QHelpEvent>
#include <QImage>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QRegularExpression>
#include <QStandardItemModel>
#include <QStyleOptionViewItem>
#include <QToolTip>
#include <QTreeView>
#include <QUrl>
#include <cerrno>
#include <string>

#include "job_control.h"
#include "job_view.h"
#include "main_window.h"
#include "modal_driver.h"
#include "new_file_dialog.h"
#include "speed_tips.h"
#include "status_delegate.h"
#include "ui_fixture.h"
#include "view_rows.h"
#include "url_drop.h"

namespace vtest {
namespace {

class JobListExtrasTest : public UiTest {
protected:
    ModalGuard guard;
};

TEST_F(JobListExtrasTest, ProgressFractionOnlyWhileDataArrivesWithAKnownLength) {
    struct Case {
        long long status;
        std::uint64_t total;
        double fraction;
    };
    const Case cases[] = {
        {0, 1000, 0.0},
        {250, 1000, 0.25},
        {1000, 1000, 1.0},
        {1500, 1000, 1.0},
        {250, SIZE_UNKNOWN, -1.0},
        {250, 0, -1.0},
        {STATUS_WAIT, 1000, -1.0},
        {STATUS_OPENING, 1000, -1.0},
        {STATUS_DONE, 1000, -1.0},
        {STATUS_FAILED, 1000, -1.0},
    };
    DownloadJob job;
    for (const Case& c : cases) {
        job.status = c.status;
        job.totalSize = c.total;
        EXPECT_DOUBLE_EQ(ProgressFraction(job), c.fraction) << c.status << "/" << c.total;
    }
}

// Paints one Status cell holding `text` and, when given, a fraction, and returns it.
QImage PaintCell(const QVariant& fraction, bool selected) {
    QStandardItemModel model(1, 1);
    model.setData(model.index(0, 0), QStringLiteral("x"));
    model.setData(model.index(0, 0), fraction, kProgressRole);
    StatusDelegate delegate;
    QStyleOptionViewItem option;
    option.rect = QRect(0, 0, 204, 24);
    option.state = QStyle::State_Enabled | (selected ? QStyle::State_Selected : QStyle::State_None);
    option.palette.setColor(QPalette::Highlight, Qt::blue);
    option.palette.setColor(QPalette::HighlightedText, Qt::white);
    option.palette.setColor(QPalette::Midlight, Qt::lightGray);
    QImage image(option.rect.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    delegate.paint(&painter, option, model.index(0, 0));
    return image;
}

TEST_F(JobListExtrasTest, BarAlongTheBottomOfTheCellFilledToTheFraction) {
    // The bar's row of pixels: 3 high, 1 above the bottom, 2 in from each side.
    const int y = 24 - 1 - StatusDelegate::kBarMargin - 1;
    const QImage half = PaintCell(0.5, false);
    EXPECT_EQ(QColor(half.pixel(10, y)), QColor(Qt::blue));
    EXPECT_EQ(QColor(half.pixel(99, y)), QColor(Qt::blue));
    EXPECT_EQ(QColor(half.pixel(104, y)), QColor(Qt::lightGray));
    EXPECT_EQ(QColor(half.pixel(190, y)), QColor(Qt::lightGray));
    EXPECT_NE(QColor(half.pixel(10, 2)), QColor(Qt::blue));  // only the bottom strip

    const QImage none = PaintCell(QVariant(), false);
    EXPECT_NE(QColor(none.pixel(10, y)), QColor(Qt::blue));
    EXPECT_NE(QColor(none.pixel(190, y)), QColor(Qt::lightGray));

    // On a selected row the filled part is in the highlighted text's colour.
    const QImage selected = PaintCell(1.0, true);
    EXPECT_EQ(QColor(selected.pixel(190, y)), QColor(Qt::white));
}

TEST_F(JobListExtrasTest, RowUpdatesStoreTheFractionAndLeaveTheTextAlone) {
    maxFiles = 0;
    DownloadJob* job = AddJob("http://127.0.0.1:9/f", "f");
    MainWindow window;
    window.show();
    FillJobView(&window);
    EXPECT_FALSE(CellData(window, 0, kStatusColumn, kProgressRole).isValid());

    job->totalSize = 2048;
    job->status = 512;
    UpdateJobRow(&window, job, 0);
    EXPECT_EQ(CellText(window, 0, kStatusColumn), "512b (25.0%)");
    EXPECT_DOUBLE_EQ(CellData(window, 0, kStatusColumn, kProgressRole).toDouble(), 0.25);

    job->status = 1024;
    RefreshJobView(&window);
    EXPECT_DOUBLE_EQ(CellData(window, 0, kStatusColumn, kProgressRole).toDouble(), 0.5);

    job->status = STATUS_FAILED;
    RefreshJobView(&window);
    EXPECT_FALSE(CellData(window, 0, kStatusColumn, kProgressRole).isValid());
    job->status = STATUS_WAIT;  // as it was, for the teardown
}

TEST_F(JobListExtrasTest, SpeedTipForRunningRowsOnly) {
    maxFiles = 0;
    DownloadJob* job = AddJob("http://127.0.0.1:9/f", "f");
    MainWindow window;
    window.show();
    FillJobView(&window);
    SpeedTips* tips = SpeedTips::Of(window.jobView());
    ASSERT_NE(tips, nullptr);

    job->totalSize = 1 << 20;
    job->status = 1000;
    UpdateJobRow(&window, job, 0);
    EXPECT_EQ(tips->TipFor(job), "");  // one sample: no speed yet
    QTest::qWait(20);
    job->status = 5000;
    UpdateJobRow(&window, job, 0);
    const QString tip = tips->TipFor(job);
    EXPECT_TRUE(tip.startsWith("Speed: ")) << tip.toStdString();
    EXPECT_TRUE(tip.contains("\nTime left: ")) << tip.toStdString();
    EXPECT_FALSE(tip.contains("Connections")) << tip.toStdString();  // none open
    job->connectionsInUse = 3;
    EXPECT_TRUE(tips->TipFor(job).endsWith("\nConnections: 3")) << tips->TipFor(job).toStdString();
    EXPECT_EQ(tips->MeterCount(), 1u);
    // The column texts are untouched: still five columns, no tooltip stored.
    EXPECT_EQ(window.jobView()->model()->columnCount(), 5);
    EXPECT_TRUE(CellTip(window, 0, kStatusColumn).isEmpty());

    // Hovering any cell of the row shows it, worked out at that moment; a row not
    // receiving data has none (the event is left to the window, which has none).
    QWidget* viewport = window.jobView()->viewport();
    const QRect cell = window.jobView()->visualRect(CellIndex(window, 0));
    const auto hover = [&](QPoint pos) {
        QHelpEvent event(QEvent::ToolTip, pos, viewport->mapToGlobal(pos));
        QCoreApplication::sendEvent(viewport, &event);
        return event.isAccepted();
    };
    EXPECT_TRUE(hover(QPoint(5, cell.center().y())));
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_TRUE(QToolTip::text().startsWith("Speed: ")) << QToolTip::text().toStdString();

    job->status = STATUS_FAILED;  // the run ended: its meter goes, and with it the tip
    UpdateJobRow(&window, job, 0);
    EXPECT_EQ(tips->TipFor(job), "");
    EXPECT_EQ(tips->MeterCount(), 0u);
    EXPECT_FALSE(hover(QPoint(5, cell.center().y())));
    EXPECT_FALSE(hover(QPoint(5, cell.bottom() + 40)));  // below the last row
    job->status = STATUS_WAIT;
}

// What a row says without a click: a paused row keeps its bytes, a running row
// its speed (and its tooltip follows while shown), and the LastError cell says in
// a sentence why, naming the system's reason for a file problem, without ever
// running the 404 rule again.
TEST_F(JobListExtrasTest, RowsShowPausedBytesSpeedAndWhyTheLastTryFailed) {
    maxFiles = 0;
    DownloadJob* held = AddJob("http://127.0.0.1:9/held", "held");
    DownloadJob* empty = AddJob("http://127.0.0.1:9/empty", "empty");
    DownloadJob* running = AddJob("http://127.0.0.1:9/run", "run");
    DownloadJob* full = AddJob("http://127.0.0.1:9/full", "full");
    DownloadJob* missing = AddJob("http://127.0.0.1:9/missing", "missing");
    held->paused = kPaused;
    held->received = 1536;
    held->totalSize = 10240;
    empty->paused = kPaused;
    full->tries = 1;
    full->result = RESULT_FILE_PROBLEM;
    full->fileError = ENOSPC;
    missing->tries = 2;
    missing->result = 404;
    MainWindow window;
    window.show();
    FillJobView(&window);
    QTreeView* view = window.jobView();
    const auto text = [&](int row, int column) { return CellText(window, row, column); };
    EXPECT_EQ(text(0, kStatusColumn), "Paused 1.50K (15.0%)");
    EXPECT_EQ(text(1, kStatusColumn), "Paused");
    EXPECT_EQ(text(3, kLastErrorColumn), "FProblem:1");
    EXPECT_EQ(CellTip(window, 3, kLastErrorColumn),
              "The file could not be created or written: No space left on device. "
              "Restarted 1 time.");
    EXPECT_EQ(text(4, kLastErrorColumn), "NotFound:2");
    const int triesAfterFill = missing->tries;

    QWidget* viewport = view->viewport();
    QPoint shownAt;
    const auto hover = [&](int row, int column) {
        const QRect cell = view->visualRect(view->model()->index(row, column));
        shownAt = viewport->mapToGlobal(cell.center());
        QHelpEvent event(QEvent::ToolTip, cell.center(), shownAt);
        QCoreApplication::sendEvent(viewport, &event);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    EXPECT_TRUE(hover(4, kLastErrorColumn).contains("(HTTP 404)"));
    hover(4, kLastErrorColumn);
    view->viewport()->update();
    QTest::qWait(10);
    EXPECT_EQ(missing->tries, triesAfterFill);  // hovering and painting run no rule

    running->totalSize = 2048;
    running->status = 512;
    UpdateJobRowOf(&window, running);
    EXPECT_EQ(text(2, kStatusColumn), "512b (25.0%)");  // one sample: no speed yet
    QTest::qWait(20);
    running->status = 1024;
    UpdateJobRowOf(&window, running);
    EXPECT_TRUE(QRegularExpression(R"(^1\.00K \(50\.0%\) \S+/s \d+:\d\d$)")
                    .match(text(2, kStatusColumn))
                    .hasMatch())
        << text(2, kStatusColumn).toStdString();
    const QString first = hover(2, kUrlColumn);
    EXPECT_TRUE(first.startsWith("Speed: ")) << first.toStdString();
    QTest::qWait(20);
    running->status = 2000;
    UpdateJobRowOf(&window, running);  // the pointer rests: the tip follows
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_TRUE(QToolTip::text().startsWith("Speed: "));
    EXPECT_NE(QToolTip::text(), first);
    running->status = STATUS_WAIT;
}

TEST_F(JobListExtrasTest, DroppedUrlFromLinksOrText) {
    struct Case {
        const char* name;
        QList<QUrl> urls;
        QString text;
        QString url;
    };
    const Case cases[] = {
        {"link", {QUrl("http://host/a%20b/file.zip")}, "", "http://host/a%20b/file.zip"},
        {"link and its text", {QUrl("https://host/x.iso")}, "Get x", "https://host/x.iso"},
        {"first of several links", {QUrl("http://h/1"), QUrl("http://h/2")}, "", "http://h/1"},
        {"text", {}, "  http://host/t.txt \n", "http://host/t.txt"},
        {"first line of text", {}, "http://h/one\r\nhttp://h/two", "http://h/one"},
        {"blank text", {}, " \n ", ""},
        {"nothing", {}, "", ""},
    };
    for (const Case& c : cases) {
        QMimeData data;
        if (!c.urls.isEmpty()) data.setUrls(c.urls);
        if (!c.text.isEmpty()) data.setText(c.text);
        EXPECT_EQ(DroppedUrl(&data), c.url) << c.name;
    }
    EXPECT_EQ(DroppedUrl(nullptr), "");
}

TEST_F(JobListExtrasTest, DropOnTheWindowOpensNewFileWithTheUrl) {
    maxFiles = 0;
    MainWindow window;
    window.show();
    EXPECT_TRUE(window.acceptDrops());
    // The list takes no drops of its own, so a drop over it is the window's.
    EXPECT_FALSE(window.jobView()->acceptDrops());
    EXPECT_FALSE(window.jobView()->viewport()->acceptDrops());
    QMimeData data;
    data.setUrls({QUrl("http://127.0.0.1:9/pub/tool.tar.gz")});
    const QPoint inside = window.jobView()->geometry().center();

    QDragEnterEvent enter(inside, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    EXPECT_TRUE(enter.isAccepted());

    QString url;
    QString proposed;
    WhenModal<NewFileDialog>([&](NewFileDialog* dialog) {
        url = dialog->findChild<QLineEdit*>("urlEdit")->text();
        proposed = dialog->findChild<QLineEdit*>("fileEdit")->text();
        dialog->accept();
    });
    QDropEvent drop(inside, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &drop);
    EXPECT_TRUE(drop.isAccepted());
    // The dialog opens once the drop has been answered, then the view is refilled.
    ASSERT_TRUE(LoopUntil([&] { return RowCount(window) == 1; }));
    EXPECT_EQ(url, "http://127.0.0.1:9/pub/tool.tar.gz");
    EXPECT_EQ(proposed, "tool.tar.gz");
    EXPECT_EQ(CellText(window, 0, kFileColumn), "tool.tar.gz");

    // A drag with nothing to use is refused.
    QMimeData empty;
    QDragEnterEvent refused(inside, Qt::CopyAction, &empty, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &refused);
    EXPECT_FALSE(refused.isAccepted());
}

}  // namespace
}  // namespace vtest
