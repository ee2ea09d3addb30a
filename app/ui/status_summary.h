// The main window's status bar: on its right, how many downloads run, wait, are
// Done and Failed, then the total speed and the limit of all downloads when one
// is set; on its left, the messages of the moment (ShowStatusMessage).
//
// The counts are the queue's own (JobCounts), kept as jobs change; the speed is
// the sum of the running rows' meters. Both are read on a timer, a few times a
// second at most, and the labels are only touched when their text changes.
//
// Threads: user-interface thread only.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <optional>

#include "job_queue.h"

class QMainWindow;
class QLabel;

// "Running 1 · Waiting 3 · Done 5 · Failed 0".
QString JobCountsText(const JobCountsNow& counts);
// "120K/s", "0.00b/s" while no speed is known, then " · Limit 500K/s" when a
// limit of all downloads (bytes per second, 0 for none) is set.
QString TotalSpeedText(std::optional<double> bytesPerSecond, std::uint64_t limit);

class StatusSummary : public QObject {
    Q_OBJECT

public:
    // How often the labels are brought up to date.
    static constexpr int kRefreshMs = 250;

    // Child of `window`; adds its labels to the window's status bar.
    explicit StatusSummary(QMainWindow* window);

    // Brings both labels up to date now (the timer does so on its own).
    void Refresh();

    QLabel* countsLabel() const { return counts_; }
    QLabel* speedLabel() const { return speed_; }

private:
    QMainWindow* window_;
    QLabel* counts_;
    QLabel* speed_;
    QTimer timer_;
};
