#include "job_view.h"

#include <QList>
#include <QMainWindow>
#include <QString>
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "desktop_notice.h"
#include "job_control.h"
#include "job_list_extras.h"
#include "job_queue.h"
#include "job_texts.h"
#include "list_file.h"
#include "list_save.h"

namespace {

// Which row shows which job, for one list. A child of the list, so it goes with
// it; rebuilt by every fill and kept by every row removal.
class JobRowTable : public QObject {
public:
    explicit JobRowTable(QTreeWidget* list) : QObject(list) { setObjectName(kName); }
    static constexpr const char* kName = "vantorelJobRows";
    std::unordered_map<const DownloadJob*, QTreeWidgetItem*> rows;
};

JobRowTable* RowTableOf(QTreeWidget* list) {
    // Only the table carries this name; the list's other children are a handful.
    return static_cast<JobRowTable*>(
        list->findChild<QObject*>(QLatin1String(JobRowTable::kName), Qt::FindDirectChildrenOnly));
}

// Item data role of the URL cell holding the row's job; the row goes before
// its job does (RemoveJobRow, FillJobView).
constexpr int kJobRole = Qt::UserRole + 2;

QString Text(const char* text) { return QString::fromUtf8(text != nullptr ? text : ""); }

// The Size text: the total length, or "?" while it is not known.
QString SizeText(const DownloadJob* job) {
    const std::uint64_t total = job->totalSize.load(std::memory_order_relaxed);
    if (total == 0 || total == SIZE_UNKNOWN) return QStringLiteral("?");
    return Text(FormatSize(textBuffer, total));
}

// The Status text, and with it what the cell draws beside the text. The sample
// comes first: a running row's text ends with the speed it gives.
void SetStatusText(QTreeWidgetItem* item, DownloadJob* job) {
    NoteJobProgress(item, job);
    QString text = Text(JobStatusText(job));
    const QString speed = JobSpeedText(item, job);
    if (!speed.isEmpty()) text += QLatin1Char(' ') + speed;
    item->setText(kStatusColumn, text);
}

// The columns a refresh renews. Each text goes into the row before the next one
// is produced: they share textBuffer. The LastError tooltip is made from the text
// just produced, so the 404 rule runs once, here, as before.
void SetChangingTexts(QTreeWidgetItem* item, DownloadJob* job) {
    SetStatusText(item, job);
    const std::string lastError = LastErrorText(job);
    item->setText(kLastErrorColumn, Text(lastError.c_str()));
    item->setToolTip(kLastErrorColumn,
                     QString::fromStdString(LastErrorExplanation(
                         lastError, job->fileError.load(std::memory_order_relaxed))));
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
    JobRowTable* table = RowTableOf(list);
    if (table == nullptr) table = new JobRowTable(list);
    table->rows.clear();
    QList<QTreeWidgetItem*> rows;
    for (DownloadJob* job = jobList; job != nullptr; job = job->next) {
        auto* item = new QTreeWidgetItem();
        item->setData(kUrlColumn, kJobRole, QVariant::fromValue(static_cast<void*>(job)));
        item->setText(kUrlColumn, Text(job->url));
        item->setText(kFileColumn, Text(job->fileName));
        SetChangingTexts(item, job);
        rows.append(item);
        table->rows.emplace(job, item);
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

QTreeWidgetItem* JobRow(QMainWindow* mainWindow, const DownloadJob* job) {
    QTreeWidget* list = JobListOf(mainWindow);
    if (list == nullptr) return nullptr;
    JobRowTable* table = RowTableOf(list);
    if (table == nullptr) return nullptr;
    auto found = table->rows.find(job);
    return found != table->rows.end() ? found->second : nullptr;
}

void UpdateJobRowOf(QMainWindow* mainWindow, DownloadJob* job) {
    if (QTreeWidgetItem* item = JobRow(mainWindow, job)) {
        SetStatusText(item, job);
        item->setText(kSizeColumn, SizeText(job));
    }
}

void RefreshJobRow(QMainWindow* mainWindow, DownloadJob* job) {
    if (QTreeWidgetItem* item = JobRow(mainWindow, job)) SetChangingTexts(item, job);
}

namespace {

// Takes the row of a job that is about to be removed out of the list; the other
// rows, and the selection among them, stay as they are.
void RemoveJobRow(QMainWindow* mainWindow, const DownloadJob* job) {
    QTreeWidget* list = JobListOf(mainWindow);
    if (list == nullptr) return;
    JobRowTable* table = RowTableOf(list);
    if (table == nullptr) return;
    auto found = table->rows.find(job);
    if (found == table->rows.end()) return;
    delete found->second;  // leaves the list with it
    table->rows.erase(found);
}

}  // namespace

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

DownloadJob* JobOfRow(const QTreeWidgetItem* row) {
    return row != nullptr
               ? static_cast<DownloadJob*>(row->data(kUrlColumn, kJobRole).value<void*>())
               : nullptr;
}

std::vector<DownloadJob*> SelectedJobsOfRows(QMainWindow* mainWindow) {
    std::vector<DownloadJob*> jobs;
    QTreeWidget* list = JobListOf(mainWindow);
    if (list == nullptr) return jobs;
    for (QTreeWidgetItem* item : list->selectedItems()) {
        if (DownloadJob* job = JobOfRow(item)) jobs.push_back(job);
    }
    std::sort(jobs.begin(), jobs.end(),
              [](const DownloadJob* a, const DownloadJob* b) { return a->order < b->order; });
    return jobs;
}

void SelectAndShowJob(QMainWindow* mainWindow, const DownloadJob* job) {
    QTreeWidget* list = JobListOf(mainWindow);
    QTreeWidgetItem* item = job != nullptr ? JobRow(mainWindow, job) : nullptr;
    if (list == nullptr || item == nullptr) return;
    list->setCurrentItem(item);  // also the only selected row
    list->scrollToItem(item);
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
    CollectRun(job);
    if (job->deleteMark != 0) {
        RemoveJobRow(mainWindow, job);
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
