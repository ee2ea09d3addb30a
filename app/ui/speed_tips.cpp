#include "speed_tips.h"

#include <QEvent>
#include <QHelpEvent>
#include <QString>
#include <QToolTip>
#include <QTreeView>
#include <algorithm>
#include <chrono>
#include <string>
#include <unordered_set>
#include <utility>

#include "download_job.h"
#include "job_queue.h"

double SteadySeconds() {
    using Seconds = std::chrono::duration<double>;
    return std::chrono::duration_cast<Seconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

SpeedTips::SpeedTips(QTreeView* list, JobAt jobAt)
    : QObject(list), list_(list), jobAt_(std::move(jobAt)) {
    setObjectName(QStringLiteral("speedTips"));
    list->viewport()->installEventFilter(this);
}

SpeedTips* SpeedTips::Of(const QTreeView* list) {
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

// One reading of the job's meter, put into words by `text`; "" for a job not
// receiving data.
template <typename Text>
QString SpeedTips::Describe(const DownloadJob* job, Text text) const {
    if (job == nullptr || job->status.load(std::memory_order_relaxed) < 0) return QString();
    const auto found = meters_.find(job);
    if (found == meters_.end()) return QString();
    const double now = SteadySeconds();
    const std::uint64_t total = job->totalSize.load(std::memory_order_relaxed);
    return QString::fromStdString(
        text(found->second.BytesPerSecond(now), found->second.SecondsLeft(now, total)));
}

QString SpeedTips::TipFor(const DownloadJob* job) const {
    return Describe(job, [job](auto speed, auto left) {
        std::string text = SpeedTipText(speed, left);
        const unsigned connections = job->connectionsInUse.load(std::memory_order_relaxed);
        if (!text.empty() && connections > 0) {
            text += "\nConnections: " + std::to_string(connections);
        }
        return text;
    });
}

QString SpeedTips::ShortTextFor(const DownloadJob* job) const {
    return Describe(job, [](auto speed, auto left) { return SpeedShortText(speed, left); });
}

std::optional<double> SpeedTips::TotalBytesPerSecond() const {
    const double now = SteadySeconds();
    std::optional<double> total;
    for (const auto& [job, meter] : meters_) {
        if (const std::optional<double> speed = meter.BytesPerSecond(now)) {
            total = total.value_or(0.0) + *speed;
        }
    }
    return total;
}

void SpeedTips::RefreshShownTip(const DownloadJob* job) {
    if (job != shownFor_ || !QToolTip::isVisible()) return;
    const QString text = TipFor(job);
    if (text.isEmpty()) {
        QToolTip::hideText();
        shownFor_ = nullptr;
    } else if (text != QToolTip::text()) {
        QToolTip::showText(shownAt_, text, list_->viewport(), shownRow_);
    }
}

bool SpeedTips::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ToolTip || watched != list_->viewport()) {
        return QObject::eventFilter(watched, event);
    }
    auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = list_->indexAt(help->pos());
    // A cell with a tip of its own: the list shows it.
    if (index.isValid() && !index.data(Qt::ToolTipRole).toString().isEmpty()) {
        shownFor_ = nullptr;
        return QObject::eventFilter(watched, event);
    }
    const DownloadJob* job = index.isValid() ? jobAt_(index) : nullptr;
    const QString text = TipFor(job);
    if (text.isEmpty()) {
        QToolTip::hideText();
        shownFor_ = nullptr;
        event->ignore();
    } else {
        // Shown while the pointer stays on this row.
        QRect row = list_->visualRect(index);
        row.setLeft(0);
        row.setRight(list_->viewport()->width());
        shownFor_ = job;
        shownAt_ = help->globalPos();
        shownRow_ = row;
        QToolTip::showText(help->globalPos(), text, list_->viewport(), row);
    }
    return true;
}

void SpeedTips::DropGoneJobs() {
    std::unordered_set<const DownloadJob*> queued;
    for (const DownloadJob* job = jobList; job != nullptr; job = job->next) queued.insert(job);
    std::erase_if(meters_, [&](const auto& entry) { return queued.count(entry.first) == 0; });
    if (shownFor_ != nullptr && queued.count(shownFor_) == 0) shownFor_ = nullptr;
}
