#include "job_view.h"

#include <QList>
#include <QMainWindow>
#include <QString>
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <unordered_set>

#include "desktop_notice.h"
#include "job_control.h"
#include "job_list_extras.h"
#include "job_queue.h"
#include "job_texts.h"
#include "list_file.h"

namespace {

QString Text(const char* text) { return QString::fromUtf8(text != nullptr ? text : ""); }

// The Size text: the total length, or "?" while it is not known.
QString SizeText(const DownloadJob* job) {
    const std::uint64_t total = job->totalSize.load(std::memory_order_relaxed);
    if (total == 0 || total == SIZE_UNKNOWN) return QStringLiteral("?");
    return Text(FormatSize(textBuffer, total));
}

// The Status text, and with it what the cell draws beside the text.
void SetStatusText(QTreeWidgetItem* item, DownloadJob* job) {
    item->setText(kStatusColumn, Text(JobStatusText(job)));
    NoteJobProgress(item, job);
}

// The columns a refresh renews. Each text goes into the row before the next one
// is produced: they share textBuffer.
void SetChangingTexts(QTreeWidgetItem* item, DownloadJob* job) {
    SetStatusText(item, job);
    item->setText(kLastErrorColumn, Text(LastErrorText(job)));
    item->setText(kSizeColumn, SizeText(job));
}

}  // namespace

QTreeWidget* JobListOf(QMainWindow* mainWindow) {
    return mainWindow != nullptr ? qobject_cast<QTreeWidget*>(mainWindow->centralWidget())
                                 : nullptr;
}

void FillJobView(QMainWindow* mainWindow) {
    QTreeWidget* list = JobListOf(mainWindow);
    if (list == nullptr) return;
    list->clear();
    QList<QTreeWidgetItem*> rows;
    for (DownloadJob* job = jobList; job != nullptr; job = job->next) {
        auto* item = new QTreeWidgetItem();
        item->setText(kUrlColumn, Text(job->url));
        item->setText(kFileColumn, Text(job->fileName));
        SetChangingTexts(item, job);
        rows.append(item);
    }
    // One insertion for all rows: a long queue must not cost a layout per row.
    list->addTopLevelItems(rows);
}

void RefreshJobView(QMainWindow* mainWindow) {
    QTreeWidget* list = JobListOf(mainWindow);
    if (list == nullptr) return;
    int row = 0;
    for (DownloadJob* job = jobList; job != nullptr; job = job->next, ++row) {
        QTreeWidgetItem* item = list->topLevelItem(row);
        if (item == nullptr) break;
        SetChangingTexts(item, job);
    }
}

void UpdateJobRow(QMainWindow* mainWindow, DownloadJob* job, int row) {
    QTreeWidget* list = JobListOf(mainWindow);
    if (list == nullptr) return;
    QTreeWidgetItem* item = list->topLevelItem(row);
    if (item == nullptr) return;
    SetStatusText(item, job);
    item->setText(kSizeColumn, SizeText(job));
}

void DeleteSelectedJobs(QMainWindow* mainWindow) {
    QTreeWidget* list = JobListOf(mainWindow);
    if (list != nullptr) {
        const int rows = list->topLevelItemCount();
        DownloadJob* job = jobList;
        for (int row = 0; row < rows && job != nullptr; ++row) {
            DownloadJob* next = job->next;  // RemoveJob destroys the job
            if (list->topLevelItem(row)->isSelected()) {
                job->deleteMark = 1;
                if (job->thread != nullptr) {
                    // The run's threads hold the job: it goes when its end is collected.
                    VSetEvent(job->stopEvent);
                } else {
                    RemoveJob(job);
                }
            }
            job = next;
        }
    }
    FillJobView(mainWindow);
    SaveJobList();
}

std::vector<DownloadJob*> SelectedJobs(QMainWindow* mainWindow) {
    std::vector<DownloadJob*> jobs;
    QTreeWidget* list = JobListOf(mainWindow);
    if (list == nullptr) return jobs;
    int row = 0;
    for (DownloadJob* job = jobList; job != nullptr; job = job->next, ++row) {
        QTreeWidgetItem* item = list->topLevelItem(row);
        if (item == nullptr) break;
        if (item->isSelected()) jobs.push_back(job);
    }
    return jobs;
}

void SelectJobs(QMainWindow* mainWindow, const std::vector<DownloadJob*>& jobs) {
    QTreeWidget* list = JobListOf(mainWindow);
    if (list == nullptr) return;
    const std::unordered_set<const DownloadJob*> wanted(jobs.begin(), jobs.end());
    list->clearSelection();
    int row = 0;
    for (DownloadJob* job = jobList; job != nullptr; job = job->next, ++row) {
        QTreeWidgetItem* item = list->topLevelItem(row);
        if (item == nullptr) break;
        if (wanted.count(job) != 0) item->setSelected(true);
    }
}

void OnJobEnded(QMainWindow* mainWindow, DownloadJob* job) {
    job->CloseHandles();
    const bool removed = job->deleteMark != 0;
    if (removed) {
        RemoveJob(job);
        SaveJobList();
        FillJobView(mainWindow);
    } else {
        SettleEndedRun(job);
        if (job->status.load(std::memory_order_relaxed) == STATUS_DONE) {
            SaveJobList();  // the finished job leaves the file
        }
    }
    StartJobs();
    // After the scheduler: a failed job it did not restart has no tries left.
    if (!removed) NoticeJobFinished(job);
    RefreshJobView(mainWindow);
}
