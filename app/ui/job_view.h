// The list of jobs in the main window: a tree view over the rows of jobList
// (job_table_model.h), sorted and filtered by a proxy (job_filter.h), and the
// operations that fill it, refresh it, delete jobs from it and collect ended
// runs.
//
// The view's rows are the proxy's: whatever turns a row the user sees into a job
// maps it to the model's row first (JobOfIndex), and back (ViewIndexOf).
//
// Every function takes the main window and finds the list as its central widget;
// without one they do nothing (DeleteSelectedJobs and OnJobEnded still change the
// queue). Threads: user-interface thread only.
#pragma once

#include <vector>

#include "job_table_model.h"

class DownloadJob;
class QMainWindow;
class QModelIndex;
class QTreeView;

// The list of `mainWindow`, or null.
QTreeView* JobListOf(QMainWindow* mainWindow);
// The model under that list, or null.
JobTableModel* JobModelOf(QMainWindow* mainWindow);

// The job an index of the view (or of the model) shows, or null.
DownloadJob* JobOfIndex(const QTreeView* list, const QModelIndex& index);
// The view's index of `job`'s row in `column`; invalid when the job has no row
// or the filter hides it.
QModelIndex ViewIndexOf(QMainWindow* mainWindow, const DownloadJob* job, int column = 0);

// Rebuilds every row from jobList (selection, focus and scroll position are lost).
void FillJobView(QMainWindow* mainWindow);

// Sets the Status, LastError and Size texts of every row.
void RefreshJobView(QMainWindow* mainWindow);

// Sets the Status and Size texts of row `row`, which shows `job`.
void UpdateJobRow(QMainWindow* mainWindow, DownloadJob* job, int row);

// Sets the Status and Size texts of the row showing `job` (the live update).
void UpdateJobRowOf(QMainWindow* mainWindow, DownloadJob* job);
// The same for several jobs at once, announced in one batch.
void UpdateJobRowsOf(QMainWindow* mainWindow, const std::vector<DownloadJob*>& jobs);

// Sets the Status, LastError and Size texts of the row showing `job`: a row whose
// job was just collected or started.
void RefreshJobRow(QMainWindow* mainWindow, DownloadJob* job);

// The delete command: every selected job is marked for removal; an idle one is
// removed at once, a running one is asked to stop and removed when its end is
// collected. Then the view is rebuilt and the list file rewritten, also when
// nothing was selected. Output files are never touched.
void DeleteSelectedJobs(QMainWindow* mainWindow);

// The jobs of the selected rows, in list order. Costs the selection, not the
// list (the toolbar asks a few times a second).
std::vector<DownloadJob*> SelectedJobs(QMainWindow* mainWindow);
std::vector<DownloadJob*> SelectedJobsOfRows(QMainWindow* mainWindow);

// Makes the row of `job` the current and only selected one and scrolls to it;
// nothing when it has no row or the filter hides it.
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
