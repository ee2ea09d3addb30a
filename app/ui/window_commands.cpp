#include "window_commands.h"

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMainWindow>
#include <QScreen>
#include <QStyle>
#include <QToolBar>
#include <QItemSelectionModel>
#include <QTreeView>
#include <algorithm>
#include <unordered_set>
#include <vector>

#include "app_settings.h"
#include "job_actions.h"
#include "job_control.h"
#include "job_queue.h"
#include "job_view.h"

namespace {

const QKeySequence kRetryKeys(Qt::CTRL | Qt::Key_T);

template <typename Test>
bool AnyJob(const std::vector<DownloadJob*>& jobs, Test applies) {
    return std::any_of(jobs.begin(), jobs.end(), applies);
}

// The desktop theme's icon, or Qt's own picture where the theme has none.
QIcon ThemeIcon(const QWidget* widget, const char* name, QStyle::StandardPixmap fallback) {
    return QIcon::fromTheme(QString::fromLatin1(name), widget->style()->standardIcon(fallback));
}

// "Pause (Ctrl+P)": the entry's name and its key, as the tooltip shows them.
void Describe(QAction* action, const QString& name, const QKeySequence& keys) {
    action->setToolTip(
        QStringLiteral("%1 (%2)").arg(name, keys.toString(QKeySequence::NativeText)));
}

}  // namespace

WindowCommands::WindowCommands(QMainWindow* window, JobActions* actions, QAction* add,
                               QAction* preferences)
    : QObject(window), window_(window), actions_(actions), add_(add), preferences_(preferences) {
    setObjectName(QStringLiteral("windowCommands"));
    retryKeys_ = new QAction(QStringLiteral("Retry now"), window);
    retryKeys_->setShortcut(kRetryKeys);
    connect(retryKeys_, &QAction::triggered, this,
            [actions] { actions->RetryNow(actions->SelectedJobs()); });
    window->addAction(retryKeys_);
    add->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    preferences->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));

    toolBar_ = window->addToolBar(QStringLiteral("Commands"));
    toolBar_->setObjectName(QStringLiteral("commandBar"));
    toolBar_->setMovable(false);
    toolBar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    add->setIcon(ThemeIcon(window, "list-add", QStyle::SP_FileDialogNewFolder));
    add->setIconText(QStringLiteral("Add"));
    Describe(add, QStringLiteral("Add"), add->shortcut());
    toolBar_->addAction(add);
    // The row entries: their keys are the window's, so a greyed entry never
    // holds a key back.
    auto entry = [&](const char* text, const char* icon, QStyle::StandardPixmap fallback,
                     const QKeySequence& keys) {
        QAction* action =
            toolBar_->addAction(ThemeIcon(window, icon, fallback), QString::fromLatin1(text));
        Describe(action, action->text(), keys);
        action->setEnabled(false);
        return action;
    };
    pause_ = entry("Pause", "media-playback-pause", QStyle::SP_MediaPause,
                   actions->pauseAction()->shortcut());
    resume_ = entry("Resume", "media-playback-start", QStyle::SP_MediaPlay,
                    actions->resumeAction()->shortcut());
    retry_ = entry("Retry now", "view-refresh", QStyle::SP_BrowserReload, kRetryKeys);
    delete_ = entry("Delete", "edit-delete", QStyle::SP_TrashIcon, QKeySequence(Qt::Key_Delete));
    connect(pause_, &QAction::triggered, this,
            [actions] { actions->Pause(actions->SelectedJobs()); });
    connect(resume_, &QAction::triggered, this,
            [actions] { actions->Resume(actions->SelectedJobs()); });
    connect(retry_, &QAction::triggered, retryKeys_, &QAction::trigger);
    connect(delete_, &QAction::triggered, this, &WindowCommands::DeleteSelected);
    toolBar_->addSeparator();
    preferences->setIcon(
        ThemeIcon(window, "preferences-system", QStyle::SP_FileDialogDetailedView));
    Describe(preferences, QStringLiteral("Preferences"), preferences->shortcut());
    toolBar_->addAction(preferences);

    QTreeView* list = list_ = JobListOf(window);
    connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &WindowCommands::UpdateEntries);
    connect(list, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& row) { OpenDoneRow(row); });
    list->installEventFilter(this);
    // Every command may change what applies: checked once it has run.
    for (QAction* action : {pause_, resume_, retry_, delete_, retryKeys_, actions->pauseAction(),
                            actions->resumeAction()}) {
        connect(action, &QAction::triggered, this, &WindowCommands::UpdateEntries,
                Qt::QueuedConnection);
    }
    timer_.setInterval(kUpdateMs);
    connect(&timer_, &QTimer::timeout, this, &WindowCommands::UpdateEntries);
    timer_.start();
}

QAction* WindowCommands::addEntry() const { return add_; }
QAction* WindowCommands::preferencesEntry() const { return preferences_; }

void WindowCommands::UpdateEntries() {
    const std::vector<DownloadJob*> jobs = SelectedJobsOfRows(window_);
    pause_->setEnabled(AnyJob(jobs, CanPauseJob));
    resume_->setEnabled(AnyJob(jobs, CanResumeJob));
    retry_->setEnabled(AnyJob(jobs, CanRetryJobNow));
    delete_->setEnabled(!jobs.empty());
}

void WindowCommands::DeleteSelected() {
    // The row that takes the first deleted one's place, as the user sees the
    // rows: the first one below it that stays, else the last one above it that
    // stays.
    QTreeView* list = list_;
    QModelIndexList chosen = list->selectionModel()->selectedRows();
    DownloadJob* next = nullptr;
    if (!chosen.isEmpty()) {
        std::unordered_set<int> going;
        int first = chosen.front().row();
        for (const QModelIndex& index : chosen) {
            going.insert(index.row());
            first = std::min(first, index.row());
        }
        const QAbstractItemModel* rows = list->model();
        auto staying = [&](int row) -> DownloadJob* {
            if (going.count(row) != 0) return nullptr;
            DownloadJob* job = JobOfIndex(list, rows->index(row, 0));
            return job != nullptr && job->deleteMark == 0 ? job : nullptr;
        };
        for (int row = first + 1; row < rows->rowCount() && next == nullptr; ++row) {
            next = staying(row);
        }
        for (int row = first - 1; row >= 0 && next == nullptr; --row) next = staying(row);
    }
    DeleteSelectedJobs(window_);
    SelectAndShowJob(window_, next);
    UpdateEntries();
}

void WindowCommands::ClearFinished() {
    const std::vector<DownloadJob*> kept = SelectedJobsOfRows(window_);
    std::vector<DownloadJob*> stay;
    for (DownloadJob* job : kept) {
        if (job->thread != nullptr || job->status.load(std::memory_order_relaxed) != STATUS_DONE) {
            stay.push_back(job);
        }
    }
    if (RemoveDoneJobs() == 0) return;
    FillJobView(window_);
    SelectJobs(window_, stay);
    UpdateEntries();
}

void WindowCommands::OpenDoneRow(const QModelIndex& row) {
    DownloadJob* job = JobOfIndex(list_, row);
    if (job != nullptr && job->status.load(std::memory_order_relaxed) == STATUS_DONE) {
        actions_->OpenFile({job});
    }
}

bool WindowCommands::eventFilter(QObject* watched, QEvent* event) {
    QTreeView* list = list_;
    if (watched == list && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool menuKey = key->key() == Qt::Key_Menu ||
                             (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier);
        if (menuKey) {
            // The popup of the current row, or of the first selected one.
            QModelIndex row = list->currentIndex();
            if (!row.isValid()) {
                const QModelIndexList selected = list->selectionModel()->selectedRows();
                if (!selected.isEmpty()) row = selected.first();
            }
            if (row.isValid()) emit menuRequested(list->visualRect(row).center());
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void WindowCommands::StorePlace(const QMainWindow& window) {
    const QRect place =
        window.isMaximized() || window.isFullScreen() ? window.normalGeometry() : window.geometry();
    windowLeft = place.x();
    windowTop = place.y();
    windowWidth = place.width();
    windowHeight = place.height();
}

void WindowCommands::RestorePlace(QMainWindow& window) {
    if (windowWidth <= 0 || windowHeight <= 0) return;  // never stored: the default size
    // A size larger than any screen would put the window's edges out of reach.
    QSize size(windowWidth, windowHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        size = size.boundedTo(screen->availableGeometry().size());
    }
    size = size.expandedTo(QSize(200, 120));
    const QPoint corner(windowLeft, windowTop);
    // A place on a screen that is no longer there is left to the window manager.
    if (QGuiApplication::screenAt(corner) != nullptr) {
        window.setGeometry(QRect(corner, size));  // the inside, as geometry() gave it
    } else {
        window.resize(size);
    }
}
