// The speed of a running row and the time it still needs, measured over the last
// few seconds (speed_meter.h): in short after its Status text, in full in its
// tooltip, which follows the row's updates while it is shown. There is no column
// for them, so the list keeps its five columns and their stored widths. A cell
// with a tooltip of its own (LastError) shows that one instead.
//
// A meter per running job is fed at every update of the job's row; the text is
// worked out only when the tooltip is asked for, so a run that has stalled shows
// its speed falling instead of the last one measured.
//
// Threads: user-interface thread only.
#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <functional>
#include <optional>
#include <unordered_map>

#include "speed_meter.h"

class DownloadJob;
class QModelIndex;
class QTreeView;

class SpeedTips : public QObject {
    Q_OBJECT

public:
    // The job a cell of the list shows, or null.
    using JobAt = std::function<const DownloadJob*(const QModelIndex& index)>;

    // Child of `list`, watching its tooltip requests; `jobAt` names each cell's job.
    SpeedTips(QTreeView* list, JobAt jobAt);

    // The tips of `list`, or null when none were installed.
    static SpeedTips* Of(const QTreeView* list);

    // Records the job's byte count now. A job that is not receiving data drops its
    // meter, so its next run is measured afresh.
    void Sample(const DownloadJob* job);

    // The tooltip text for `job` now; "" when there is none to show. A run with
    // connections open adds how many on a third line: "Connections: 3".
    QString TipFor(const DownloadJob* job) const;
    // The short text for the Status column: "1.50K/s 2:05"; "" when none.
    QString ShortTextFor(const DownloadJob* job) const;
    // When the tooltip shown is `job`'s, puts its newest text in it: called after
    // every sample, so it refreshes while the pointer rests.
    void RefreshShownTip(const DownloadJob* job);

    std::size_t MeterCount() const { return meters_.size(); }
    // The speeds of all runs measured now, added up, in bytes per second; empty
    // while no run has a speed yet. Costs the runs receiving data.
    std::optional<double> TotalBytesPerSecond() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    template <typename Text>
    QString Describe(const DownloadJob* job, Text text) const;
    // Forgets the meters of jobs no longer in jobList (deleted while running).
    void DropGoneJobs();

    QTreeView* list_;
    JobAt jobAt_;
    // The job whose tip is shown, where, and the row it stays on.
    const DownloadJob* shownFor_ = nullptr;
    QPoint shownAt_;
    QRect shownRow_;
    // Keys only compared, never followed: a job may be gone by the time its entry is.
    std::unordered_map<const DownloadJob*, SpeedMeter> meters_;
    // Meters beyond this many trigger a sweep, which walks the whole queue; it
    // doubles with what a sweep keeps, so hundreds of runs at once do not sweep
    // at every sample.
    std::size_t sweepAbove_ = 64;
};

// Seconds on the steady clock the meters share.
double SteadySeconds();
