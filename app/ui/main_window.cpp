#include "main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStringList>
#include <QItemSelectionModel>
#include <QTreeView>
#include <QUrl>
#include <algorithm>
#include <vector>

#include "app_settings.h"
#include "caught_fields.h"
#include "dialogs.h"
#include "job_actions.h"
#include "job_control.h"
#include "job_list_extras.h"
#include "job_filter.h"
#include "job_queue.h"
#include "job_table_model.h"
#include "job_view.h"
#include "message_box.h"
#include "status_summary.h"
#include "url_drop.h"
#include "view_filter_bar.h"
#include "window_commands.h"

MainWindow::MainWindow() : watcher_(this) {
    setWindowTitle(QString::fromUtf8(kProgramCaption));
    resize(760, 380);
    BuildMenu();
    BuildJobList();
    InstallJobListExtras(jobView_, jobModel_);
    auto* drop = new UrlDrop(this);
    connect(drop, &UrlDrop::urlDropped, this,
            [this](const QByteArray& url) { OpenNewFileWithUrl(url.constData()); });
    new StatusSummary(this);
    jobActions_ = new JobActions(this);
    jobActions_->openUrl = [this](const QUrl& url) { return openUrl(url); };
    connect(jobActions_, &JobActions::runsStarted, &watcher_, &JobWatcher::Sync);
    connect(jobActions_, &JobActions::message, this, &MainWindow::ShowStatusMessage);
    commands_ = new WindowCommands(this, jobActions_, newFileAction_, preferencesAction_);
    connect(commands_, &WindowCommands::menuRequested, this, &MainWindow::ShowJobMenu);
    filterBar_ = new ViewFilterBar(commands_->toolBar(), jobFilter_);
    WindowCommands::RestorePlace(*this);
    openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    runJobMenu = [](QMenu& menu, const QPoint& globalPos) { return menu.exec(globalPos); };
    // exit, not quit: quit would ask every window to close once more.
    endEventLoop = [] { QCoreApplication::exit(0); };
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildMenu() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    newFileAction_ = file->addAction(QStringLiteral("&New File"), this, &MainWindow::OnNewFile);
    preferencesAction_ =
        file->addAction(QStringLiteral("&Preferences"), this, &MainWindow::OnPreferences);
    clearFinishedAction_ = file->addAction(QStringLiteral("Clear &finished"), this,
                                           [this] { commands_->ClearFinished(); });
    file->addSeparator();
    exitAction_ = file->addAction(QStringLiteral("E&xit"), this, &MainWindow::OnExit);
}

void MainWindow::BuildJobList() {
    jobModel_ = new JobTableModel(this);
    jobView_ = new QTreeView(this);
    jobView_->setObjectName(QStringLiteral("jobView"));
    // The view shows the rows through the sort and filter; the model keeps the
    // queue's order.
    jobFilter_ = new JobFilterProxy(this);
    jobFilter_->setSourceModel(jobModel_);
    jobView_->setModel(jobFilter_);
    // A flat report: rows in queue order until a header click sorts them (a
    // third click goes back to the queue's order), whole rows selected, several
    // at once with Shift and Ctrl.
    jobView_->setRootIsDecorated(false);
    jobView_->setItemsExpandable(false);
    jobView_->setUniformRowHeights(true);
    jobView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    jobView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    jobView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QHeaderView* header = jobView_->header();
    header->setSortIndicatorClearable(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    jobView_->setSortingEnabled(true);
    header->setSectionsMovable(false);
    // The stored widths are the columns' own: no column stretches to fill.
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int column = 0; column < kColumnCount; ++column) {
        // A hand-edited file may hold a negative width: show such a column as empty.
        header->resizeSection(column, std::max(colWidths[column], 0));
    }
    jobView_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(jobView_, &QWidget::customContextMenuRequested, this, &MainWindow::ShowJobMenu);
    jobView_->installEventFilter(this);
    setCentralWidget(jobView_);
    setFocusProxy(jobView_);
}

void MainWindow::ShowJobMenu(const QPoint& pos) {
    const QModelIndex index = jobView_->indexAt(pos);
    if (!index.isValid()) return;  // below the last row: no menu
    QItemSelectionModel* selection = jobView_->selectionModel();
    if (!selection->isRowSelected(index.row(), QModelIndex())) {
        selection->select(index,
                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    // The menu runs a loop of its own, where a collected run rebuilds the rows
    // and loses the selection: Delete takes the jobs chosen when it opened.
    const std::vector<DownloadJob*> selected = SelectedJobs(this);
    const std::vector<JobRef> chosen = JobRefs(selected);
    QMenu menu(this);
    QAction* remove = menu.addAction(QStringLiteral("Delete"));
    jobActions_->AddEntries(menu, selected);
    menu.addSeparator();
    QAction* clearFinished = menu.addAction(QStringLiteral("Clear finished"));
    clearFinished->setEnabled(JobCounts().done > 0);
    QAction* picked = runJobMenu(menu, jobView_->viewport()->mapToGlobal(pos));
    if (picked == remove) {
        // Only the jobs still queued: a new job may have the address of one
        // deleted meanwhile.
        SelectJobs(this, StillQueued(chosen));
        commands_->DeleteSelected();
    } else if (picked == clearFinished) {
        jobActions_->Run(nullptr);  // forgets the jobs the popup was opened on
        commands_->ClearFinished();
    } else {
        jobActions_->Run(picked);
    }
    commands_->UpdateEntries();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == jobView_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        commands_->DeleteSelected();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::OnNewFile() {
    if (RunNewFileDialog(this) != 0) {
        FillJobView(this);
        SelectAndShowJob(this, LastJob());  // the new row
    }
    watcher_.Sync();  // the dialog started the scheduler
}

void MainWindow::OnPreferences() {
    RunPreferencesDialog(this);
    watcher_.Sync();
}

void MainWindow::OpenNewFileWithUrl(const char* url) {
    if (RunNewFileDialogWithUrl(this, url) != 0) {
        FillJobView(this);
        SelectAndShowJob(this, LastJob());
    }
    watcher_.Sync();
}

void MainWindow::ShowStatusMessage(const QString& text) {
    constexpr int kMessageMs = 10000;
    statusBar()->showMessage(text, kMessageMs);
}

std::vector<NewFileOutcome> MainWindow::AddUrlsFromOutside(const std::vector<std::string>& urls) {
    // All at once: one save of the list file and one run of the scheduler.
    std::vector<NewFileOutcome> outcomes = AddUrlsAsNewFiles(urls);
    FillJobView(this);
    watcher_.Sync();
    return outcomes;
}

std::vector<NewFileOutcome> MainWindow::AddDownloadsFromOutside(
    const std::vector<HandedDownload>& downloads) {
    std::vector<NewFileOutcome> outcomes;
    outcomes.reserve(downloads.size());
    // Plain URLs in a row are one change of the queue: one save for all of them,
    // however many a command line hands over. A caught download, with fields of
    // its own, is queued alone, in its place in the order.
    std::vector<std::string> plain;
    auto queuePlain = [&] {
        if (plain.empty()) return;
        for (NewFileOutcome outcome : AddUrlsAsNewFiles(plain)) outcomes.push_back(outcome);
        plain.clear();
    };
    for (const HandedDownload& d : downloads) {
        const bool caught =
            !d.referer.empty() || !d.agent.empty() || !d.fileName.empty() || !d.cookies.empty();
        if (!caught) {
            plain.push_back(d.url);
            continue;
        }
        queuePlain();
        outcomes.push_back(
            AddCaughtDownload(d.url, d.fileName, CaughtFields{d.referer, d.agent, d.cookies}));
    }
    queuePlain();
    FillJobView(this);
    watcher_.Sync();
    return outcomes;
}

// Exit leaves the widths as they were read at start-up: only closing stores them.
void MainWindow::OnExit() {
    WindowCommands::StorePlace(*this);
    endEventLoop();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    for (int column = 0; column < kColumnCount; ++column) {
        colWidths[column] = jobView_->header()->sectionSize(column);
    }
    WindowCommands::StorePlace(*this);
    event->accept();
    endEventLoop();
}

void MainWindow::CloseForShutdownSignal() {
    // Popups and dialogs run loops of their own; closing them lets those loops
    // return before the main one ends. A box that refuses to close stops the walk.
    while (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();
        if (popup->isVisible()) break;
    }
    while (QWidget* modal = QApplication::activeModalWidget()) {
        if (modal == this) break;
        modal->close();
        if (modal->isVisible()) break;
    }
    close();
}
