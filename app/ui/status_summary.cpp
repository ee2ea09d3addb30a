#include "status_summary.h"

#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>
#include <algorithm>
#include <cmath>

#include "brindlex/vbrindlex.h"
#include "job_texts.h"
#include "job_view.h"
#include "speed_tips.h"

namespace {

QString Rate(double bytesPerSecond) {
    char size[32];
    FormatSize(size, static_cast<std::uint64_t>(std::llround(std::max(bytesPerSecond, 0.0))));
    return QString::fromLatin1(size) + QStringLiteral("/s");
}

void SetIfChanged(QLabel* label, const QString& text) {
    if (label->text() != text) label->setText(text);
}

}  // namespace

QString JobCountsText(const JobCountsNow& counts) {
    return QStringLiteral("Running %1 \u00b7 Waiting %2 \u00b7 Done %3 \u00b7 Failed %4")
        .arg(counts.running)
        .arg(counts.waiting)
        .arg(counts.done)
        .arg(counts.failed);
}

QString TotalSpeedText(std::optional<double> bytesPerSecond, std::uint64_t limit) {
    QString text = Rate(bytesPerSecond.value_or(0.0));
    if (limit != 0) text += QStringLiteral(" \u00b7 Limit ") + Rate(static_cast<double>(limit));
    return text;
}

StatusSummary::StatusSummary(QMainWindow* window) : QObject(window), window_(window) {
    setObjectName(QStringLiteral("statusSummary"));
    counts_ = new QLabel(window);
    counts_->setObjectName(QStringLiteral("jobCounts"));
    speed_ = new QLabel(window);
    speed_->setObjectName(QStringLiteral("totalSpeed"));
    window->statusBar()->addPermanentWidget(counts_);
    window->statusBar()->addPermanentWidget(speed_);
    timer_.setInterval(kRefreshMs);
    connect(&timer_, &QTimer::timeout, this, &StatusSummary::Refresh);
    timer_.start();
    Refresh();
}

void StatusSummary::Refresh() {
    SetIfChanged(counts_, JobCountsText(JobCounts()));
    const SpeedTips* tips = SpeedTips::Of(JobListOf(window_));
    SetIfChanged(speed_, TotalSpeedText(tips != nullptr ? tips->TotalBytesPerSecond()
                                                        : std::optional<double>(),
                                        VGetSpeedLimit()));
}
