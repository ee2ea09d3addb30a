#include "job_view.h"

#include <QAbstractProxyModel>
#include <QItemSelection>
#include <QItemSelectionModel>
#include <QMainWindow>
#include <QTreeView>
#include <algorithm>

#include "desktop_notice.h"
#include "job_control.h"
#include "job_queue.h"
#include "list_file.h"
#include "list_save.h"
#include "main_thread.h"

namespace {

// The view's model as a proxy over the job model, or null when the view shows
// the job model itself.
const QAbstractProxyModel* ProxyOf(const QTreeView* list) {
    return qobject_cast<const QAbstractProxyModel*>(list->model());
}

JobTableModel* ModelOf(const QTreeView* list) {
    if (list == nullptr) return nullptr;
    if (const QAbstractProxyModel* proxy = ProxyOf(list)) {
        return qobject_cast<JobTableModel*>(proxy->sourceModel());
    }
    return qobject_cast<JobTableModel*>(list->model());
}

}  // namespace

QTreeView* JobListOf(QMainWindow* mainWindow) {
    return mainWindow != nullptr ? qobject_cast<QTreeView*>(mainWindow->centralWidget()) : nullptr;
}

JobTableModel* JobModelOf(QMainWindow* mainWindow) { return ModelOf(JobListOf(mainWindow)); }

DownloadJob* JobOfIndex(const QTreeView* list, const QModelIndex& index) {
    const JobTableModel* model = ModelOf(list);
    if (model == nullptr || !index.isValid()) return nullptr;
    if (index.model() == model) return model->JobAt(index.row());
    const QAbstractProxyModel* proxy = ProxyOf(list);
    if (proxy == nullptr || index.model() != proxy) return nullptr;
    return model->JobAt(proxy->mapToSource(index).row());
}

QModelIndex ViewIndexOf(QMainWindow* mainWindow, const DownloadJob* job, int column) {
    const QTreeView* list = JobListOf(mainWindow);
    const JobTableModel* model = ModelOf(list);
    if (model == nullptr) return QModelIndex();
    const int row = model->RowOf(job);
    if (row < 0) return QModelIndex();
    const QModelIndex index = model->index(row, column);
    const QAbstractProxyModel* proxy = ProxyOf(list);
    return proxy != nullptr ? proxy->mapFromSource(index) : index;
}

void FillJobView(QMainWindow* mainWindow) {
    if (JobTableModel* model = JobModelOf(mainWindow)) model->Fill();
}

void RefreshJobView(QMainWindow* mainWindow) {
    if (JobTableModel* model = JobModelOf(mainWindow)) model->RefreshAll(true);
}

void UpdateJobRow(QMainWindow* mainWindow, DownloadJob* job, int row) {
    JobTableModel* model = JobModelOf(mainWindow);
    if (model == nullptr || model->JobAt(row) != job) return;
    model->Refresh({job}, false);
}

void UpdateJobRowOf(QMainWindow* mainWindow, DownloadJob* job) {
    if (JobTableModel* model = JobModelOf(mainWindow)) model->Refresh({job}, false);
}

void UpdateJobRowsOf(QMainWindow* mainWindow, const std::vector<DownloadJob*>& jobs) {
    if (JobTableModel* model = JobModelOf(mainWindow)) model->Refresh(jobs, false);
}

void RefreshJobRow(QMainWindow* mainWindow, DownloadJob* job) {
    if (JobTableModel* model = JobModelOf(mainWindow)) model->Refresh({job}, true);
}

void DeleteSelectedJobs(QMainWindow* mainWindow) {
    VANTOREL_ASSERT_UI_THREAD();
    for (DownloadJob* job : SelectedJobs(mainWindow)) {
        job->deleteMark = 1;
        if (job->thread != nullptr) {
            // The run's threads hold the job: it goes when its end is collected.
            VSetEvent(job->stopEvent);
        } else {
            RemoveJob(job);
        }
    }
    FillJobView(mainWindow);
    SaveJobList();
}

std::vector<DownloadJob*> SelectedJobs(QMainWindow* mainWindow) {
    std::vector<DownloadJob*> jobs;
    const QTreeView* list = JobListOf(mainWindow);
    if (list == nullptr || list->selectionModel() == nullptr) return jobs;
    for (const QModelIndex& index : list->selectionModel()->selectedRows()) {
        if (DownloadJob* job = JobOfIndex(list, index)) jobs.push_back(job);
    }
    std::sort(jobs.begin(), jobs.end(),
              [](const DownloadJob* a, const DownloadJob* b) { return a->order < b->order; });
    return jobs;
}

std::vector<DownloadJob*> SelectedJobsOfRows(QMainWindow* mainWindow) {
    return SelectedJobs(mainWindow);
}

void SelectAndShowJob(QMainWindow* mainWindow, const DownloadJob* job) {
    QTreeView* list = JobListOf(mainWindow);
    const QModelIndex index = job != nullptr ? ViewIndexOf(mainWindow, job) : QModelIndex();
    if (list == nullptr || !index.isValid()) return;
    list->setCurrentIndex(index);  // also the only selected row
    list->scrollTo(index);
}

void SelectJobs(QMainWindow* mainWindow, const std::vector<DownloadJob*>& jobs) {
    QTreeView* list = JobListOf(mainWindow);
    if (list == nullptr || list->selectionModel() == nullptr) return;
    QItemSelection selection;
    for (const DownloadJob* job : jobs) {
        const QModelIndex index = ViewIndexOf(mainWindow, job);
        if (index.isValid()) selection.select(index, index);
    }
    list->selectionModel()->select(
        selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void OnJobEnded(QMainWindow* mainWindow, DownloadJob* job) {
    VANTOREL_ASSERT_UI_THREAD();
    CollectRun(job);
    if (job->deleteMark != 0) {
        if (JobTableModel* model = JobModelOf(mainWindow)) model->RemoveJobRow(job);
        RemoveJob(job);
        job = nullptr;
        SaveJobList();
    } else {
        SettleEndedRun(job);
        JobStatusSet(job);  // a stopped run settles as waiting: its count moves
        if (job->status.load(std::memory_order_relaxed) == STATUS_DONE) {
            SaveJobListSoon();  // the finished job leaves the file with the next save
        }
    }
    StartJobs();
    if (job != nullptr) {
        // After the scheduler: a failed job it did not restart has no tries left.
        NoticeJobFinished(job);
        // A job StartJobs restarted is shown by the watcher with the other started
        // ones: its texts are produced once, as after any restart.
        if (job->thread == nullptr) RefreshJobRow(mainWindow, job);
    }
}
