// The commands around the list of jobs: the toolbar (Add, Pause, Resume, Retry
// now, Delete, Preferences), Clear finished, Delete that moves the selection on
// to the next row, a double-click that opens a Done file, Shift+F10 and the Menu
// key for the row's popup, and the window's size and place kept in the settings.
//
// The toolbar's row entries are greyed out when they apply to none of the
// selected rows: brought up to date when the selection changes, after each
// command, and a few times a second while the jobs change state under it. Their
// keys (Ctrl+P, Ctrl+R, Ctrl+T, Delete) belong to the window and always work.
//
// Threads: user-interface thread only.
#pragma once

#include <QObject>
#include <QTimer>

class JobActions;
class QAction;
class QMainWindow;
class QPoint;
class QModelIndex;
class QToolBar;
class QTreeView;

class WindowCommands : public QObject {
    Q_OBJECT

public:
    // How often the greyed entries are checked against the jobs' states.
    static constexpr int kUpdateMs = 250;

    // Child of `window`, after its list exists; `actions` are its row commands,
    // `add` and `preferences` its New File and Preferences entries.
    WindowCommands(QMainWindow* window, JobActions* actions, QAction* add, QAction* preferences);

    QToolBar* toolBar() const { return toolBar_; }
    // The toolbar's entries, in their order.
    QAction* addEntry() const;
    QAction* pauseEntry() const { return pause_; }
    QAction* resumeEntry() const { return resume_; }
    QAction* retryEntry() const { return retry_; }
    QAction* deleteEntry() const { return delete_; }
    QAction* preferencesEntry() const;
    // Retry now's window action (Ctrl+T), like JobActions' Pause and Resume.
    QAction* retryAction() const { return retryKeys_; }

    // The Delete command, then the row that followed the first deleted one (or,
    // at the end of the list, the one before) becomes the current row.
    void DeleteSelected();
    // Removes the Done rows and their jobs, never a file; the selection of the
    // other rows stays.
    void ClearFinished();
    // Greys the row entries out or in for the selected rows.
    void UpdateEntries();

    // The window's size and place into the settings (app_settings.h), and back:
    // a stored place is used only when it lies on a screen.
    static void StorePlace(const QMainWindow& window);
    static void RestorePlace(QMainWindow& window);

signals:
    // Shift+F10 or the Menu key: the row's popup at `pos` (list viewport
    // coordinates), which the window shows.
    void menuRequested(const QPoint& pos);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OpenDoneRow(const QModelIndex& row);

    QMainWindow* window_;
    // The window's list, kept: its events come while the window is destroyed.
    QTreeView* list_ = nullptr;
    JobActions* actions_;
    QAction* add_;
    QAction* preferences_;
    QToolBar* toolBar_ = nullptr;
    QAction* pause_ = nullptr;
    QAction* resume_ = nullptr;
    QAction* retry_ = nullptr;
    QAction* delete_ = nullptr;
    QAction* retryKeys_ = nullptr;
    QTimer timer_;
};
