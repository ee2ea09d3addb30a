#include "job_table_model.h"

#include <algorithm>
#include <string>

#include "download_job.h"
#include "job_control.h"
#include "job_queue.h"
#include "job_texts.h"
#include "status_delegate.h"
#include "main_thread.h"

namespace {

QString Text(const char* text) { return QString::fromUtf8(text != nullptr ? text : ""); }

RowState StateOf(const DownloadJob* job, long long status) {
    if (job->thread != nullptr) return RowState::kRunning;
    if (status == STATUS_DONE) return RowState::kDone;
    if (job->paused != 0) return RowState::kPaused;
    if (status == STATUS_FAILED) return RowState::kFailed;
    return RowState::kWaiting;
}

}  // namespace

JobTableModel::JobTableModel(QObject* parent) : QAbstractTableModel(parent) {}

int JobTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int JobTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 5; }

QVariant JobTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return QVariant();
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole:
            return row.texts[column];
        case Qt::ToolTipRole:
            return column == kLastErrorColumn ? QVariant(row.lastErrorTip) : QVariant();
        case kProgressRole:
            return column == kStatusColumn && row.progress >= 0 ? QVariant(row.progress)
                                                                : QVariant();
        case kSortRole:
            if (column == kStatusColumn) return QVariant(static_cast<qlonglong>(row.status));
            if (column == kSizeColumn) return QVariant(static_cast<qlonglong>(row.size));
            return row.texts[column];
        case kStateRole:
            return static_cast<int>(row.state);
        default:
            return QVariant();
    }
}

QVariant JobTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const char* const kHeadings[] = {"URL", "File", "Status", "LastError", "Size"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= 5) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    return QString::fromLatin1(kHeadings[section]);
}

// One reading of status and length feeds every cell it changes. Each text is
// copied out before the next is produced: they share textBuffer.
void JobTableModel::Produce(Row& row, bool withLastError) const {
    DownloadJob* job = row.job;
    const long long status = job->status.load(std::memory_order_relaxed);
    const std::uint64_t total = job->totalSize.load(std::memory_order_relaxed);
    // The speed meter is fed first: a running row's text ends with what it gives.
    const QString speed = speedText ? speedText(job) : QString();
    QString text = Text(JobStatusText(job, status, total));
    if (!speed.isEmpty()) text += QLatin1Char(' ') + speed;
    row.texts[kStatusColumn] = text;
    row.progress = ProgressFraction(status, total);
    const bool known = total != 0 && total != SIZE_UNKNOWN;
    row.texts[kSizeColumn] = known ? Text(FormatSize(textBuffer, total)) : QStringLiteral("?");
    row.status = status;
    row.size = known ? static_cast<long long>(total) : -1;
    row.state = StateOf(job, status);
    if (withLastError) {
        // The 404 rule runs here, once per refresh that asks for it.
        const std::string lastError = LastErrorText(job);
        row.texts[kLastErrorColumn] = Text(lastError.c_str());
        row.lastErrorTip = QString::fromStdString(
            LastErrorExplanation(lastError, job->fileError.load(std::memory_order_relaxed)));
    }
}

void JobTableModel::Fill() {
    VANTOREL_ASSERT_UI_THREAD();
    beginResetModel();
    rows_.clear();
    rowOf_.clear();
    for (DownloadJob* job = jobList; job != nullptr; job = job->next) {
        Row row;
        row.job = job;
        row.texts[kUrlColumn] = Text(job->url);
        row.texts[kFileColumn] = Text(job->fileName);
        Produce(row, true);
        rowOf_.emplace(job, static_cast<int>(rows_.size()));
        rows_.push_back(std::move(row));
    }
    endResetModel();
}

void JobTableModel::Refresh(const std::vector<DownloadJob*>& jobs, bool withLastError) {
    VANTOREL_ASSERT_UI_THREAD();
    std::vector<int> changed;
    changed.reserve(jobs.size());
    for (const DownloadJob* job : jobs) {
        const int row = RowOf(job);
        if (row >= 0) changed.push_back(row);
    }
    std::sort(changed.begin(), changed.end());
    changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
    for (int row : changed) Produce(rows_[static_cast<std::size_t>(row)], withLastError);
    // One announcement per run of adjacent rows.
    for (std::size_t i = 0; i < changed.size();) {
        std::size_t end = i + 1;
        while (end < changed.size() && changed[end] == changed[end - 1] + 1) ++end;
        Announce(changed[i], changed[end - 1]);
        i = end;
    }
}

void JobTableModel::RefreshAll(bool withLastError) {
    VANTOREL_ASSERT_UI_THREAD();
    if (rows_.empty()) return;
    for (Row& row : rows_) Produce(row, withLastError);
    Announce(0, static_cast<int>(rows_.size()) - 1);
}

void JobTableModel::Announce(int first, int last) {
    emit dataChanged(index(first, kStatusColumn), index(last, kSizeColumn));
}

void JobTableModel::RemoveJobRow(const DownloadJob* job) {
    VANTOREL_ASSERT_UI_THREAD();
    const int row = RowOf(job);
    if (row < 0) return;
    beginRemoveRows(QModelIndex(), row, row);
    rows_.erase(rows_.begin() + row);
    rowOf_.erase(job);
    for (std::size_t i = static_cast<std::size_t>(row); i < rows_.size(); ++i) {
        rowOf_[rows_[i].job] = static_cast<int>(i);
    }
    endRemoveRows();
}

int JobTableModel::RowOf(const DownloadJob* job) const {
    const auto found = rowOf_.find(job);
    return found != rowOf_.end() ? found->second : -1;
}

bool JobTableModel::RowLess(int a, int b, int column) const {
    const Row& left = rows_[static_cast<std::size_t>(a)];
    const Row& right = rows_[static_cast<std::size_t>(b)];
    if (column == kStatusColumn) return left.status < right.status;
    if (column == kSizeColumn) return left.size < right.size;
    return left.texts[column].compare(right.texts[column], Qt::CaseInsensitive) < 0;
}

RowState JobTableModel::StateAt(int row) const {
    return rows_[static_cast<std::size_t>(row)].state;
}

bool JobTableModel::RowHolds(int row, const QString& text) const {
    const Row& shown = rows_[static_cast<std::size_t>(row)];
    return shown.texts[kUrlColumn].contains(text, Qt::CaseInsensitive) ||
           shown.texts[kFileColumn].contains(text, Qt::CaseInsensitive);
}

DownloadJob* JobTableModel::JobAt(int row) const {
    return row >= 0 && row < static_cast<int>(rows_.size())
               ? rows_[static_cast<std::size_t>(row)].job
               : nullptr;
}
