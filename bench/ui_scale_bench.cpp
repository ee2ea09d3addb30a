// A long queue, end to end: the real program (offscreen) fetches N files of
// 10 KiB from the local test server with MaxFiles 200, timed from its start to
// an empty list file, beside the curl command line fetching the same files with
// `--parallel --parallel-max 200` in the same run. Then the start-up with 100,000
// waiting jobs and MaxFiles 0, timed to the moment the window is filled and the
// loop idle (its first sleep, or the end of the last busy stretch after it).
//
// For each run of the program: wall time, processor time of both sides, the start-up, its peak
// memory (ru_maxrss of the child), and how long the user-interface thread stayed away from its
// event loop: a helper thread posts a stamp every 2 ms and the longest wait for one to be served is
// reported with the thread's own CPU time within it (on a loaded machine a long wait can be mostly
// waiting for a core), and the most CPU time within any one wait (the longest stretch of work). The
// start-up, up to the first sleep of the loop, is reported apart. The longest gap between ticks of
// a 10 ms timer is printed as a check of the same from inside the loop.
//
// The program is this executable, copied into a program folder of its own (the
// program keeps its files beside itself) and started with "--as-program": it then
// runs RunVantorel, the same call the `vantorel` main makes, with the probe above
// installed. Usage: ui_scale_bench [--size BYTES] [--keep-alive] [--nginx] [--https]
// [--runs R] [--dir FOLDER] [--sort-filter] [N ...]   (default 10240 bytes, N = 1000
// 10000 50000; e.g. --size 1048576 200 for 200 runs of 1 MiB). --keep-alive lets the
// test server keep connections open, as nginx does, so both sides may reuse them; both
// speak HTTP/1.1. --nginx serves the files from nginx instead (nginx_server.h, Debian's
// nginx-light), --https from nginx over HTTPS, with a certificate of a private CA
// that both sides trust (SSL_CERT_FILE, --cacert). --runs R repeats every N R
// times, interleaved (the program and curl take turns going first), and prints
// the medians: a loaded machine spreads single runs wider than the differences
// measured. --dir FOLDER: where the files are written (see tempBase).
// --sort-filter runs the program with the view filter on Waiting (ViewFilter in its
// settings) and the rows sorted by File, descending, from its first turn of the loop:
// the cost of a sort and a filter over a long list. The start-up figure is measured
// with the test server only. Needs `curl` on the PATH. Writes N small files twice
// into a temporary folder, removed afterwards.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCoreApplication>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "job_table_model.h"
#include "nginx_server.h"
#include "temp_dir.h"
#include "test_server.h"
#include "vantorel_app.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// The size of every file: 10 KiB, or what --size says.
std::uint64_t fileSize = 10 * 1024;
// Where both sides write their files (--dir): the system's temporary folder by
// default. A file system that is slow to create files right after many were
// deleted (ext4 without a journal checks every recently freed inode) measures
// itself more than the programs: /dev/shm takes it out.
std::string tempBase;

// ---- The probe, in the program's process --------------------------------------

bool asProgram = false;
// The program sorts its rows (--sort-filter); the driver asks for it.
bool sortRows = false;
bool sortFilter = false;
Clock::time_point processStart;

struct Probe {
    bool sawFirstBlock = false;
    Clock::time_point firstBlockAt;
    double startupMs = 0;  // main() to the first sleep of the loop
    // main() to the end of the last stretch of 10 ms or more spent away from the
    // loop: the moment the program became idle for good when nothing runs.
    double lastBusyEndMs = 0;
    // A helper thread posts a stamp to the user-interface thread every 2 ms; the
    // longest wait for one to be handled is the longest time that thread spent
    // away from its event loop, and the thread's own CPU time within that wait
    // says how much of it was work rather than waiting for a core.
    double longestWaitMs = 0;
    double cpuInLongestWaitMs = 0;
    double longestCpuStretchMs = 0;  // the most CPU time within any one wait
    double longestTickGapMs = 0;
    Clock::time_point lastTick;
    std::string statsPath;
    clockid_t uiClock{};
    std::atomic<bool> stop{false};
    std::thread beat;

    void Write(bool final) const {
        std::ofstream out(statsPath, std::ios::trunc);
        out << "startup_ms " << startupMs << "\nidle_ms " << std::max(startupMs, lastBusyEndMs)
            << "\nwait_ms " << longestWaitMs << "\nwait_cpu_ms " << cpuInLongestWaitMs
            << "\ncpu_stretch_ms " << longestCpuStretchMs << "\ntick_gap_ms " << longestTickGapMs
            << "\nfinal " << (final ? 1 : 0) << "\n";
    }
};
Probe probe;

double MsSince(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double CpuMs(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

void InstallProbe() {
    if (!asProgram) return;
    const char* stats = std::getenv("VANTOREL_BENCH_STATS");
    probe.statsPath = stats != nullptr ? stats : "";
    QCoreApplication* app = QCoreApplication::instance();
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     [] {
                         if (probe.sawFirstBlock) return;
                         probe.sawFirstBlock = true;
                         probe.firstBlockAt = Clock::now();
                         probe.startupMs = MsSince(processStart, probe.firstBlockAt);
                         probe.Write(false);
                     });
    pthread_getcpuclockid(pthread_self(), &probe.uiClock);
    probe.beat = std::thread([app] {
        while (!probe.stop.load()) {
            const Clock::time_point sent = Clock::now();
            const double cpuAtSend = CpuMs(probe.uiClock);
            QMetaObject::invokeMethod(
                app,
                [sent, cpuAtSend] {
                    // Stamps sent before the loop first slept waited for the start-up,
                    // which is reported apart.
                    if (!probe.sawFirstBlock || sent < probe.firstBlockAt) return;
                    const Clock::time_point now = Clock::now();
                    const double waited = MsSince(sent, now);
                    if (waited >= 10) probe.lastBusyEndMs = MsSince(processStart, now);
                    const double cpu = CpuMs(probe.uiClock) - cpuAtSend;
                    if (waited > probe.longestWaitMs) {
                        probe.longestWaitMs = waited;
                        probe.cpuInLongestWaitMs = cpu;
                    }
                    probe.longestCpuStretchMs = std::max(probe.longestCpuStretchMs, cpu);
                },
                Qt::QueuedConnection);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    auto* ticker = new QTimer(app);
    ticker->setInterval(10);
    ticker->setTimerType(Qt::PreciseTimer);
    QObject::connect(ticker, &QTimer::timeout, [] {
        const Clock::time_point now = Clock::now();
        if (probe.sawFirstBlock && probe.lastTick != Clock::time_point()) {
            probe.longestTickGapMs =
                std::max(probe.longestTickGapMs, MsSince(probe.lastTick, now) - 10.0);
        }
        probe.lastTick = now;
    });
    ticker->start();
    if (sortRows) {
        // As a header click would, once the window is there.
        auto* sorter = new QTimer(app);
        sorter->setInterval(0);
        QObject::connect(sorter, &QTimer::timeout, [sorter] {
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (auto* view = window->findChild<QTreeView*>(QStringLiteral("jobView"))) {
                    view->sortByColumn(kFileColumn, Qt::DescendingOrder);
                    sorter->stop();
                }
            }
        });
        sorter->start();
    }
    QObject::connect(app, &QCoreApplication::aboutToQuit, [] {
        probe.stop.store(true);
        probe.beat.join();
        probe.Write(true);
    });
}
Q_COREAPP_STARTUP_FUNCTION(InstallProbe)

// ---- The driver ---------------------------------------------------------------

struct Child {
    pid_t pid = -1;
};

Child Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
            const std::string& outputPath) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& entry : env) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    Child child;
    if (posix_spawnp(&child.pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
        child.pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

// What a finished child used: peak memory and processor time of all its threads.
struct Usage {
    double peakMiB = 0;
    double cpuS = 0;
};

Usage Reap(Child child) {
    int status = 0;
    rusage usage{};
    wait4(child.pid, &status, 0, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return {usage.ru_maxrss / 1024.0, seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

// The files of `folder` (f0 .. f<count-1>) that are complete, and how long after
// `start` the last of them was finished: its status-change time, set by the last
// write or, in the program, by the stamping of the modification time at the end
// of the run. Unlike the program's wall, this leaves out the list save that
// follows the last download (at most one per 250 ms).
struct Finished {
    std::size_t complete = 0;
    double lastS = 0;
};

Finished FinishedFiles(const std::string& folder, int count,
                       std::chrono::system_clock::time_point start) {
    Finished finished;
    const double startS = std::chrono::duration<double>(start.time_since_epoch()).count();
    for (int i = 0; i < count; ++i) {
        struct stat st {};
        const std::string path = folder + "/f" + std::to_string(i);
        if (stat(path.c_str(), &st) != 0 || static_cast<std::uint64_t>(st.st_size) != fileSize) {
            continue;
        }
        ++finished.complete;
        const double changedS = st.st_ctim.tv_sec + st.st_ctim.tv_nsec / 1e9;
        finished.lastS = std::max(finished.lastS, changedS - startS);
    }
    return finished;
}

// Where the files come from: the URL of file i is `base` + i. `caFile`, when
// set, is the CA that both sides trust.
struct Target {
    std::string base;
    std::string caFile;
};

std::vector<std::string> ChildEnvironment(const Target& target, const std::string& root,
                                          const std::string& stats) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        static const char* kDropped[] = {"http_proxy",      "https_proxy",   "HTTP_PROXY",
                                         "HTTPS_PROXY",     "ALL_PROXY",     "all_proxy",
                                         "no_proxy",        "NO_PROXY",      "HOME",
                                         "QT_QPA_PLATFORM", "SSL_CERT_FILE", "SSL_CERT_DIR"};
        if (std::find(std::begin(kDropped), std::end(kDropped), name) != std::end(kDropped)) {
            continue;
        }
        env.push_back(text);
    }
    env.push_back("HOME=" + root + "/home");
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("VANTOREL_BENCH_STATS=" + stats);
    if (!target.caFile.empty()) env.push_back("SSL_CERT_FILE=" + target.caFile);
    return env;
}

std::string Url(const Target& target, int i) { return target.base + std::to_string(i); }

struct ProgramFigures {
    double wallS = 0;
    double peakMiB = 0;
    double cpuS = 0;
    double startupMs = 0;
    double idleMs = 0;
    double waitMs = 0;
    double waitCpuMs = 0;
    double cpuStretchMs = 0;
    double tickGapMs = 0;
    std::size_t complete = 0;
    double lastFileS = 0;
};

std::string ReadStats(const std::string& path, const std::string& key) {
    std::ifstream in(path);
    std::string name, value;
    while (in >> name >> value) {
        if (name == key) return value;
    }
    return "";
}

// One run of the program on `count` jobs. MaxFiles 0: timed to its first idle
// moment instead of an empty list file.
ProgramFigures RunProgram(const std::string& self, const Target& target, int count, int maxFiles) {
    vtest::TempDir temp(tempBase);
    const std::string root = temp.Path();
    const std::string prog = root + "/prog";
    const std::string out = root + "/out";
    for (const std::string& dir : {prog, out, root + "/home"}) fs::create_directories(dir);
    const std::string program = prog + "/vantorel";
    fs::copy_file(self, program);
    {
        std::ofstream ini(prog + "/vantorel.ini");
        ini << "[Vantorel]\nDefPath=" << out << "\nMaxFiles=" << maxFiles << "\nMaxTries=5\n";
        if (sortFilter) ini << "ViewFilter=Waiting\n";
        std::ofstream list(prog + "/filelist.dat");
        for (int i = 0; i < count; ++i) {
            list << '"' << Url(target, i) << "\" \"f" << i << "\"\n";
        }
    }
    const std::string stats = root + "/stats";
    const std::string listPath = prog + "/filelist.dat";
    ProgramFigures figures;
    const auto startWall = std::chrono::system_clock::now();
    const Clock::time_point start = Clock::now();
    std::vector<std::string> args = {program, "--as-program"};
    if (sortFilter) args.push_back("--sorted");
    Child child = Spawn(args, ChildEnvironment(target, root, stats), root + "/output");
    if (child.pid < 0) {
        std::fprintf(stderr, "cannot start %s\n", program.c_str());
        return figures;
    }
    const Clock::time_point limit = start + std::chrono::minutes(10);
    for (;;) {
        std::error_code error;
        const bool done = maxFiles == 0 ? fs::exists(stats, error)
                                        : fs::file_size(listPath, error) == 0 && !error;
        if (done || Clock::now() > limit) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    figures.wallS = std::chrono::duration<double>(Clock::now() - start).count();
    // With nothing to run, let whatever follows the first sleep (layout, paint)
    // happen, so the idle time covers it.
    if (maxFiles == 0) std::this_thread::sleep_for(std::chrono::seconds(2));
    kill(child.pid, SIGTERM);
    const Usage usage = Reap(child);
    figures.peakMiB = usage.peakMiB;
    figures.cpuS = usage.cpuS;
    figures.startupMs = std::atof(ReadStats(stats, "startup_ms").c_str());
    figures.idleMs = std::atof(ReadStats(stats, "idle_ms").c_str());
    figures.waitMs = std::atof(ReadStats(stats, "wait_ms").c_str());
    figures.waitCpuMs = std::atof(ReadStats(stats, "wait_cpu_ms").c_str());
    figures.cpuStretchMs = std::atof(ReadStats(stats, "cpu_stretch_ms").c_str());
    figures.tickGapMs = std::atof(ReadStats(stats, "tick_gap_ms").c_str());
    const Finished finished = FinishedFiles(out, count, startWall);
    figures.complete = finished.complete;
    figures.lastFileS = finished.lastS;
    return figures;
}

// curl fetching the same files; returns the wall time in seconds, counts the
// complete files and gives its processor time.
double RunCurl(const Target& target, int count, std::size_t* complete, double* cpuS,
               double* lastFileS) {
    vtest::TempDir temp(tempBase);
    const std::string root = temp.Path();
    {
        std::ofstream config(root + "/config");
        for (int i = 0; i < count; ++i) {
            config << "url = \"" << Url(target, i) << "\"\noutput = \"" << root << "/f" << i
                   << "\"\n";
        }
    }
    const auto startWall = std::chrono::system_clock::now();
    const Clock::time_point start = Clock::now();
    std::vector<std::string> args = {
        "curl",           "-q",  "-s", "--http1.1",     "--noproxy", "*", "--parallel",
        "--parallel-max", "200", "-K", root + "/config"};
    if (!target.caFile.empty()) {
        args.push_back("--cacert");
        args.push_back(target.caFile);
    }
    Child child = Spawn(args, ChildEnvironment(target, root, root + "/unused"), root + "/output");
    if (child.pid < 0) {
        std::fprintf(stderr, "cannot start curl\n");
        return 0;
    }
    *cpuS = Reap(child).cpuS;
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const Finished finished = FinishedFiles(root, count, startWall);
    *complete = finished.complete;
    *lastFileS = finished.lastS;
    return wall;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void PrintRow(const char* label, int count, const ProgramFigures& program, double curl,
              double curlCpu, double curlLast, std::size_t curlComplete) {
    std::printf(
        "%-6s %7d %9.2f %7.2f %6.2f %7.2f %7.2f %8.0f %8.1f %8.1f %8.1f %8.1f %8.1f "
        "%6zu/%zu %9.2f %9.2f\n",
        label, count, program.wallS, curl, curl > 0 ? program.wallS / curl : 0.0, program.cpuS,
        curlCpu, program.startupMs, program.peakMiB, program.waitMs, program.waitCpuMs,
        program.cpuStretchMs, program.tickGapMs, program.complete, curlComplete, program.lastFileS,
        curlLast);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    processStart = Clock::now();
    if (argc > 1 && std::string(argv[1]) == "--as-program") {
        asProgram = true;
        sortRows = argc > 2 && std::string(argv[2]) == "--sorted";
        return RunVantorel(1, argv);
    }
    signal(SIGPIPE, SIG_IGN);
    std::vector<int> counts;
    bool keepAlive = false;
    bool nginx = false;
    bool https = false;
    int runs = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--size" && i + 1 < argc) {
            fileSize = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--dir" && i + 1 < argc) {
            tempBase = argv[++i];
        } else if (arg == "--keep-alive") {
            keepAlive = true;
        } else if (arg == "--sort-filter") {
            sortFilter = true;
        } else if (arg == "--nginx") {
            nginx = true;
        } else if (arg == "--https") {
            nginx = https = true;
        } else {
            counts.push_back(std::atoi(argv[i]));
        }
    }
    if (counts.empty()) counts = {1000, 10000, 50000};
    const std::string self = fs::canonical("/proc/self/exe").string();

    vtest::TestServer server;
    vtest::Route route;
    route.size = fileSize;
    route.keepAlive = keepAlive;
    server.Set("/f", route);
    std::unique_ptr<vtest::NginxServer> nginxServer;
    Target target{server.Url("/f?"), ""};
    if (nginx) {
        nginxServer = std::make_unique<vtest::NginxServer>(fileSize, https);
        target = {nginxServer->Url("/f?"), https ? nginxServer->CaFile() : ""};
    }
    std::printf("server: %s\n", nginx ? (https ? "nginx, HTTPS" : "nginx, HTTP")
                                      : (keepAlive ? "test server, keep-alive"
                                                   : "test server, a connection per request"));
    std::fflush(stdout);

    std::printf("%-6s %7s %9s %7s %6s %7s %7s %8s %8s %8s %8s %8s %8s %12s %9s %9s\n", "run",
                "jobs", "program_s", "curl_s", "ratio", "cpu_s", "curl_cpu", "start_ms", "peak_MiB",
                "wait_ms", "its_cpu", "max_cpu", "tick_gap", "complete", "last_file", "curl_last");
    std::vector<std::vector<double>> programWalls(counts.size()), curlWalls(counts.size());
    std::vector<std::vector<double>> programLasts(counts.size()), curlLasts(counts.size());
    for (int run = 0; run < runs; ++run) {
        for (std::size_t c = 0; c < counts.size(); ++c) {
            ProgramFigures program;
            std::size_t curlComplete = 0;
            double curl = 0;
            double curlCpu = 0;
            double curlLast = 0;
            // Taking turns at going first: neither side always meets a server (or a
            // page cache) the other has just warmed up.
            if (run % 2 == 0) {
                program = RunProgram(self, target, counts[c], 200);
                curl = RunCurl(target, counts[c], &curlComplete, &curlCpu, &curlLast);
            } else {
                curl = RunCurl(target, counts[c], &curlComplete, &curlCpu, &curlLast);
                program = RunProgram(self, target, counts[c], 200);
            }
            programWalls[c].push_back(program.wallS);
            curlWalls[c].push_back(curl);
            programLasts[c].push_back(program.lastFileS);
            curlLasts[c].push_back(curlLast);
            PrintRow(std::to_string(run + 1).c_str(), counts[c], program, curl, curlCpu, curlLast,
                     curlComplete);
        }
    }
    std::vector<double> walls;
    for (std::size_t c = 0; c < counts.size(); ++c) {
        const double program = Median(programWalls[c]);
        const double curl = Median(curlWalls[c]);
        walls.push_back(program);
        if (runs > 1) {
            const double programLast = Median(programLasts[c]);
            const double curlLast = Median(curlLasts[c]);
            std::printf(
                "median %7d %9.2f %7.2f %6.2f   (%d runs); last file finished %.2f s "
                "and %.2f s: %.2f\n",
                counts[c], program, curl, curl > 0 ? program / curl : 0.0, runs, programLast,
                curlLast, curlLast > 0 ? programLast / curlLast : 0.0);
        }
    }
    if (walls.size() >= 3 && walls[1] > 0) {
        std::printf("growth %d -> %d jobs: %.2fx the time\n", counts[1], counts[2],
                    walls[2] / walls[1]);
    }
    if (nginx) return 0;
    const ProgramFigures idle = RunProgram(self, target, 100000, 0);
    std::printf(
        "start-up, 100000 waiting jobs, MaxFiles 0: loop first sleeps %.0f ms, filled and "
        "idle %.0f ms after the process started (peak %.1f MiB, most CPU in one stretch "
        "after the first sleep %.1f ms)\n",
        idle.startupMs, idle.idleMs, idle.peakMiB, idle.cpuStretchMs);
    return 0;
}
