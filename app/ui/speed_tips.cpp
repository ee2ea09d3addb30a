#include "speed_tips.h"

#include <QEvent>
#include <QHelpEvent>
#include <QString>
#include <QToolTip>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <unordered_set>

#include "download_job.h"
#include "job_queue.h"

namespace {

DownloadJob* JobAtRow(int row) {
    DownloadJob* job = jobList;
    for (int i = 0; job != nullptr && i < row; ++i) job = job->next;
    return job;
}

}  // namespace

double SteadySeconds() {
    using Seconds = std::chrono::duration<double>;
    return std::chrono::duration_cast<Seconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

SpeedTips::SpeedTips(QTreeWidget* list) : QObject(list), list_(list) {
    setObjectName(QStringLiteral("speedTips"));
    list->viewport()->installEventFilter(this);
}

SpeedTips* SpeedTips::Of(const QTreeWidget* list) {
    return list != nullptr ? list->findChild<SpeedTips*>(QString(), Qt::FindDirectChildrenOnly)
                           : nullptr;
}

void SpeedTips::Sample(const DownloadJob* job) {
    const long long status = job->status.load(std::memory_order_relaxed);
    if (status < 0) {
        meters_.erase(job);
        return;
    }
    meters_[job].AddSample(SteadySeconds(), static_cast<std::uint64_t>(status));
    if (meters_.size() > sweepAbove_) {
        DropGoneJobs();
        sweepAbove_ = std::max<std::size_t>(64, 2 * meters_.size());
    }
}

QString SpeedTips::TipFor(const DownloadJob* job) const {
    if (job == nullptr || job->status.load(std::memory_order_relaxed) < 0) return QString();
    const auto found = meters_.find(job);
    if (found == meters_.end()) return QString();
    const double now = SteadySeconds();
    const std::uint64_t total = job->totalSize.load(std::memory_order_relaxed);
    return QString::fromStdString(
        SpeedTipText(found->second.BytesPerSecond(now), found->second.SecondsLeft(now, total)));
}

bool SpeedTips::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ToolTip || watched != list_->viewport()) {
        return QObject::eventFilter(watched, event);
    }
    auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = list_->indexAt(help->pos());
    const QString text = index.isValid() ? TipFor(JobAtRow(index.row())) : QString();
    if (text.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
    } else {
        // Shown while the pointer stays on this row.
        QRect row = list_->visualRect(index);
        row.setLeft(0);
        row.setRight(list_->viewport()->width());
        QToolTip::showText(help->globalPos(), text, list_->viewport(), row);
    }
    return true;
}

void SpeedTips::DropGoneJobs() {
    std::unordered_set<const DownloadJob*> queued;
    for (const DownloadJob* job = jobList; job != nullptr; job = job->next) queued.insert(job);
    std::erase_if(meters_, [&](const auto& entry) { return queued.count(entry.first) == 0; });
}
