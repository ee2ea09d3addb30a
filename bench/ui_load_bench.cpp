// The user-interface thread under load: the real main window follows 4 runs that
// download at full loopback speed from the local test server.
//
// Measures the UI thread's CPU time (getrusage RUSAGE_THREAD) over the wall time,
// and the latency from a status change to the row's Status text following it: a
// probe thread samples every run's status every millisecond; each sample is
// matched with the first row update afterwards whose status has reached it.
// Targets: under 10% of a core, and every status change shown within 50 ms.
//
// Usage: ui_load_bench [seconds [MB/s per run]]   (default 8 seconds at full
// loopback speed; a rate paces each run like a fast network would). Offscreen
// unless QT_QPA_PLATFORM says otherwise. Writes up to a few GB into a temporary
// folder, removed afterwards.
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <thread>
#include <vector>

#include "app_shutdown.h"
#include "job_queue.h"
#include "job_view.h"
#include "list_file.h"
#include "main_window.h"
#include "temp_dir.h"
#include "test_server.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRuns = 4;

double Seconds(Clock::time_point t, Clock::time_point origin) {
    return std::chrono::duration<double>(t - origin).count();
}

double ThreadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Sample {
    double at;
    int row;
    long long status;
};

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 8;
    const double megabytesPerSecond = argc > 2 ? std::max(0.0, atof(argv[2])) : 0.0;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);

    vtest::TempDir dir;
    if (dir.path().empty() || chdir(dir.path().c_str()) != 0) return 1;
    listPath = dir / "filelist.dat";
    vtest::TestServer server;
    vtest::Route route;
    route.size = 64ULL << 30;  // never ends within the run
    route.bytesPerSecond = static_cast<std::uint64_t>(megabytesPerSecond * 1e6);
    server.Set("/big", route);
    std::vector<DownloadJob*> jobs;
    for (int i = 0; i < kRuns; ++i) {
        auto* job = new DownloadJob();
        job->SetURL(server.Url("/big?" + std::to_string(i)).c_str());
        SetJobFileName(job, ("big" + std::to_string(i)).c_str());
        AppendJob(job);
        jobs.push_back(job);
    }
    maxFiles = kRuns;

    MainWindow window;
    window.show();
    const Clock::time_point origin = Clock::now();

    // Row updates as the view sees them: the status read just after the row's
    // Status text was set (at most microseconds newer than the text).
    std::vector<Sample> updates;
    updates.reserve(1 << 20);
    QObject::connect(
        window.jobView()->model(), &QAbstractItemModel::dataChanged,
        [&](const QModelIndex& from, const QModelIndex& to) {
            if (from.column() > kStatusColumn || to.column() < kStatusColumn) return;
            for (int row = from.row(); row <= to.row() && row < kRuns; ++row) {
                updates.push_back({Seconds(Clock::now(), origin), row, jobs[row]->status.load()});
            }
        });

    std::atomic<bool> probing{true};
    std::vector<Sample> probes;
    probes.reserve(static_cast<std::size_t>(seconds) * 1000 * kRuns + 1000);
    std::thread probe([&] {
        while (probing.load()) {
            for (int row = 0; row < kRuns; ++row) {
                // A probe descheduled between its clock and its read would credit the
                // view with a newer status than the time says: such samples are dropped.
                const Clock::time_point before = Clock::now();
                const long long status = jobs[row]->status.load();
                const Clock::time_point after = Clock::now();
                if (after - before < std::chrono::microseconds(200)) {
                    probes.push_back({Seconds(before, origin), row, status});
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    // The machine's own share: how late a plain thread that sleeps one tick at a
    // time wakes up under the same load. The UI thread cannot do better.
    std::vector<double> oversleeps;
    oversleeps.reserve(static_cast<std::size_t>(seconds) * 40 + 100);
    std::thread sleeper([&] {
        while (probing.load()) {
            const Clock::time_point due =
                Clock::now() + std::chrono::milliseconds(JobWatcher::kRepaintIntervalMs);
            std::this_thread::sleep_until(due);
            oversleeps.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - due).count());
        }
    });

    StartJobs();
    FillJobView(&window);
    window.watcher().Sync();
    const double cpuBefore = ThreadCpuSeconds();
    const Clock::time_point wallBefore = Clock::now();
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, [] { QCoreApplication::exit(0); });
    QApplication::exec();
    const double cpu = ThreadCpuSeconds() - cpuBefore;
    const double wall = Seconds(Clock::now(), wallBefore);
    const double endAt = Seconds(Clock::now(), origin);
    probing = false;
    probe.join();
    sleeper.join();

    std::uint64_t bytes = 0;
    for (DownloadJob* job : jobs)
        bytes += static_cast<std::uint64_t>(std::max(0LL, job->status.load()));

    // Latency of each sampled byte count: 0 when its row already shows it, else
    // the time to the first later update of the row that shows at least that
    // count. Samples in the last 100 ms may have no update yet.
    std::vector<std::vector<Sample>> byRow(kRuns);
    for (const Sample& u : updates) byRow[u.row].push_back(u);
    std::vector<double> latencies;
    for (const Sample& p : probes) {
        if (p.status < 0 || p.at > endAt - 0.1) continue;
        const auto& rowUpdates = byRow[p.row];
        auto it = std::lower_bound(rowUpdates.begin(), rowUpdates.end(), p.at,
                                   [](const Sample& u, double at) { return u.at < at; });
        // A run that paused shows its count already: nothing is waiting to be shown.
        if (it != rowUpdates.begin() && std::prev(it)->status >= p.status) {
            latencies.push_back(0);
            continue;
        }
        while (it != rowUpdates.end() && it->status < p.status) ++it;
        if (it != rowUpdates.end()) latencies.push_back((it->at - p.at) * 1000);
    }

    // Gaps between a row's successive repaints: the tick, plus any time the UI
    // thread waited for a core.
    std::vector<double> gaps;
    for (const auto& rowUpdates : byRow) {
        for (std::size_t i = 1; i < rowUpdates.size(); ++i) {
            const double gap = (rowUpdates[i].at - rowUpdates[i - 1].at) * 1000;
            if (gap > 1) gaps.push_back(gap);  // the text and the bar of one repaint
        }
    }

    std::printf("runs: %d for %.2f s, %.1f MB/s in all (%.0f status blocks/s)\n", kRuns, wall,
                static_cast<double>(bytes) / wall / 1e6, static_cast<double>(bytes) / 256 / wall);
    std::printf("UI thread CPU: %.3f s of %.2f s = %.1f%% of a core (target < 10%%)\n", cpu, wall,
                100 * cpu / wall);
    std::printf("row data changes: %zu (%.1f per row per second; a repaint sets the text and the bar)\n",
                updates.size(),
                static_cast<double>(updates.size()) / kRuns / wall);
    std::printf(
        "status change -> row text: p50 %.1f ms, p99 %.1f ms, max %.1f ms over %zu samples "
        "(target < 50 ms)\n",
        Percentile(latencies, 0.5), Percentile(latencies, 0.99), Percentile(latencies, 1.0),
        latencies.size());

    std::printf("gap between a row's repaints: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n",
                Percentile(gaps, 0.5), Percentile(gaps, 0.99), Percentile(gaps, 1.0));
    std::printf(
        "baseline, a plain thread waking every %d ms is late by: p50 %.1f ms, p99 %.1f ms, "
        "max %.1f ms\n",
        JobWatcher::kRepaintIntervalMs, Percentile(oversleeps, 0.5), Percentile(oversleeps, 0.99),
        Percentile(oversleeps, 1.0));

    StopAndWaitForAllRuns();
    DestroyAllJobs();
    return 0;
}
