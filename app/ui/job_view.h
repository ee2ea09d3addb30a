// The list of jobs in the main window: one row per job of jobList, in list order,
// and the operations that fill it, refresh it, delete jobs from it and collect
// ended runs.
//
// The rows hold their texts; the texts are produced only by these functions, never
// while painting, because producing the LastError text of a job answered with 404
// changes that job's `tries` (job_texts.h).
//
// Every function takes the main window and finds the list as its central widget;
// without one they do nothing (DeleteSelectedJobs and OnJobEnded still change the
// queue). Threads: user-interface thread only.
#pragma once

#include <vector>

class DownloadJob;
class QMainWindow;
class QTreeWidget;
class QTreeWidgetItem;

// Column indexes of the list.
enum JobColumn { kUrlColumn, kFileColumn, kStatusColumn, kLastErrorColumn, kSizeColumn };

// The list of `mainWindow`, or null.
QTreeWidget* JobListOf(QMainWindow* mainWindow);

// Rebuilds every row from jobList (selection, focus and scroll position are lost).
void FillJobView(QMainWindow* mainWindow);

// Sets the Status, LastError and Size texts of every row.
void RefreshJobView(QMainWindow* mainWindow);

// Sets the Status and Size texts of row `row`, which shows `job`.
void UpdateJobRow(QMainWindow* mainWindow, DownloadJob* job, int row);

// The row showing `job`, or null. Constant time: FillJobView keeps a table from
// job to row, so the per-event paths never walk the list.
QTreeWidgetItem* JobRow(QMainWindow* mainWindow, const DownloadJob* job);

// Sets the Status and Size texts of the row showing `job` (the live update).
void UpdateJobRowOf(QMainWindow* mainWindow, DownloadJob* job);

// Sets the Status, LastError and Size texts of the row showing `job`: a row whose
// job was just collected or started.
void RefreshJobRow(QMainWindow* mainWindow, DownloadJob* job);

// The delete command: every selected job is marked for removal; an idle one is
// removed at once, a running one is asked to stop and removed when its end is
// collected. Then the view is rebuilt and the list file rewritten, also when
// nothing was selected. Output files are never touched.
void DeleteSelectedJobs(QMainWindow* mainWindow);

// The jobs of the selected rows, in list order.
std::vector<DownloadJob*> SelectedJobs(QMainWindow* mainWindow);

// The jobs of the selected rows, in list order, found from the rows themselves:
// costs the selection, not the list (the toolbar asks a few times a second).
std::vector<DownloadJob*> SelectedJobsOfRows(QMainWindow* mainWindow);

// The job `row` shows (a row of the list of `mainWindow`), or null.
DownloadJob* JobOfRow(const QTreeWidgetItem* row);

// Makes the row of `job` the current and only selected one and scrolls to it;
// nothing when it has no row.
void SelectAndShowJob(QMainWindow* mainWindow, const DownloadJob* job);

// Makes the rows of `jobs` the selection; a job no longer in jobList is passed
// over (the pointers are compared, never followed).
void SelectJobs(QMainWindow* mainWindow, const std::vector<DownloadJob*>& jobs);

// Collects the ended run of `job` (its `thread` is signalled): releases the run's
// handles (CollectRun), removes a job marked for removal with its row and saves
// the list file, or asks for a save after a Done run (list_save.h), starts the
// next runs and refreshes the job's row. Only that row: nothing else changed,
// and the rows of the runs it started are shown by the watcher that takes them
// (TakeStartedJobs). So a run's end costs the same in a list of any length.
void OnJobEnded(QMainWindow* mainWindow, DownloadJob* job);
