// One download over several connections, against nginx and aria2 on one machine.
//
//   split_bench [--runs N] [--folder DIR] [--case C] [--size MIB]
//
//   N    rounds of each case (default 3); the figures are the medians.
//   C    run only case C (1, 2 or 3, below; default all of them).
//   MIB  the size of case 2's file in MiB (default 1024), for a quicker profile.
//   DIR  where the served files and the downloads go (default /var/tmp). It must
//        be a disk file system that keeps user extended attributes: on tmpfs the
//        library silently fetches with one connection.
//
// Needs nginx and aria2c (Debian packages nginx-light and aria2; the tests do not).
// Build and run from the worktree:
//   cmake --build build --target split_bench -j2 && build/bench/split_bench
//
// The bench starts its own nginx on 127.0.0.1 (a free port, a generated config in
// a fresh folder under DIR, one process, no master) with two locations: /limited/
// sends at most 4 MiB/s per connection (limit_rate 4m with sendfile_max_chunk 64k,
// without which a request may burst through its first second), /free/ has no
// limit. Then, each case in interleaved rounds:
//   1. 64 MiB from /limited/: ours with 8 connections, ours with 1, and
//      `aria2c -x8 -s8 -k1M`. Targets: ours8 wall <= 1.15 x aria2's, ours1 wall
//      >= 6 x ours8's.
//   2. 1 GiB from /free/: ours with 1 and with 8 connections, throughput and CPU
//      seconds per GiB. Targets: 8 connections >= 0.95 x the throughput of 1, and
//      CPU per GiB <= 1.2 x that of 1.
//   3. 1 MiB from /free/ with 8 connections allowed: exactly one request.
//
// Every run is a child process of its own (ours through VBRINDLEX::Go, aria2c as
// itself), so its CPU time is its own (wait4). Both sides do the same syncing:
// sync() before each run, so no earlier run's writeback lands in it, and an
// fdatasync of the finished file inside the timed wall; whatever ours syncs
// during the run (its record of what it holds) is its own cost. After each run
// the file is compared with the served one byte for byte, and the run prints
// the peak of connectionsInUse (sampled every 5 ms) and the requests nginx
// logged, so the figures show how many connections were really used.
//
// Exit code: 0 when every run was byte-exact and every target met, 1 when not, 2
// when the bench could not run (a tool missing, an unsuitable folder, nginx not
// starting).
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "brindlex/vbrindlex.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kMiB = 1024 * 1024;

// --- Tools and folder ---------------------------------------------------------

// The full path of `name` on PATH or in the sbin folders (nginx lives in
// /usr/sbin, which a user's PATH may lack); "" when there is none.
std::string FindProgram(const std::string& name) {
    std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    path += ":/usr/sbin:/sbin";
    std::stringstream dirs(path);
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (dir.empty()) continue;
        const std::string candidate = dir + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

// Why `folder` cannot hold the downloads, or "" when it can.
std::string FolderProblem(const std::string& folder) {
    struct statfs info {};
    if (statfs(folder.c_str(), &info) != 0) return "cannot be examined";
    if (info.f_type == TMPFS_MAGIC) return "is on tmpfs, which keeps no user extended attributes";
    const std::string probe = folder + "/xattr-probe";
    const int fd = open(probe.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    if (fd < 0) return "is not writable";
    const bool kept = fsetxattr(fd, "user.vantorel.probe", "1", 1, 0) == 0;
    close(fd);
    unlink(probe.c_str());
    return kept ? "" : "keeps no user extended attributes";
}

// Bytes that differ from one position to the next and from file to file, so a
// piece written at the wrong offset never passes for the right one.
void WriteServedFile(const std::string& path, std::uint64_t size, std::uint64_t seed) {
    std::ofstream out(path, std::ios::binary);
    std::vector<std::uint64_t> block(kMiB / 8);
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ULL + 1;
    for (std::uint64_t done = 0; done < size; done += kMiB) {
        for (std::uint64_t& word : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            word = x;
        }
        out.write(reinterpret_cast<const char*>(block.data()),
                  static_cast<std::streamsize>(std::min<std::uint64_t>(kMiB, size - done)));
    }
}

bool SameBytes(const std::string& a, const std::string& b) {
    const int fa = open(a.c_str(), O_RDONLY);
    const int fb = open(b.c_str(), O_RDONLY);
    bool same = fa >= 0 && fb >= 0;
    std::vector<char> ba(4 * kMiB), bb(4 * kMiB);
    while (same) {
        const ssize_t na = read(fa, ba.data(), ba.size());
        ssize_t nb = 0;
        while (nb < na) {
            const ssize_t got = read(fb, bb.data() + nb, static_cast<std::size_t>(na - nb));
            if (got <= 0) break;
            nb += got;
        }
        if (na < 0 || nb != na ||
            std::memcmp(ba.data(), bb.data(), static_cast<std::size_t>(na)) != 0) {
            same = false;
        } else if (na == 0) {
            char extra;
            same = read(fb, &extra, 1) == 0;
            break;
        }
    }
    if (fa >= 0) close(fa);
    if (fb >= 0) close(fb);
    return same;
}

// --- nginx --------------------------------------------------------------------

unsigned short FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    unsigned short port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
        port = ntohs(a.sin_port);
    }
    close(s);
    return port;
}

bool Accepts(unsigned short port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

class Nginx {
public:
    Nginx(std::string program, std::string folder)
        : program_(std::move(program)), folder_(std::move(folder)) {}
    ~Nginx() { Stop(); }
    Nginx(const Nginx&) = delete;
    Nginx& operator=(const Nginx&) = delete;

    // Starts it on a free port; a port taken between the probe and nginx's bind
    // is tried again with another.
    bool Start() {
        for (int attempt = 0; attempt < 5 && pid_ <= 0; ++attempt) {
            port_ = FreePort();
            WriteConfig();
            pid_ = fork();
            if (pid_ == 0) {
                const std::string conf = folder_ + "/nginx.conf";
                const std::string errors = folder_ + "/error.log";
                execl(program_.c_str(), "nginx", "-p", folder_.c_str(), "-c", conf.c_str(), "-e",
                      errors.c_str(), nullptr);
                _exit(127);
            }
            const auto deadline = Clock::now() + std::chrono::seconds(5);
            while (Clock::now() < deadline && !Accepts(port_)) {
                if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                    pid_ = -1;
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            if (pid_ > 0 && !Accepts(port_)) Stop();
        }
        return pid_ > 0;
    }

    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGQUIT);
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (waitpid(pid_, nullptr, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        pid_ = -1;
    }

    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::string ErrorLog() const { return ReadAll(folder_ + "/error.log"); }
    std::string AccessLogPath() const { return folder_ + "/access.log"; }

    static std::string ReadAll(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    void WriteConfig() {
        const std::string& d = folder_;
        std::ofstream conf(d + "/nginx.conf");
        conf << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
             << "pid " << d << "/nginx.pid;\nerror_log " << d << "/error.log warn;\n"
             << "events { worker_connections 512; }\n"
             << "http {\n"
             << "  client_body_temp_path " << d << "/tmp-body;\n"
             << "  proxy_temp_path " << d << "/tmp-proxy;\n"
             << "  fastcgi_temp_path " << d << "/tmp-fastcgi;\n"
             << "  uwsgi_temp_path " << d << "/tmp-uwsgi;\n"
             << "  scgi_temp_path " << d << "/tmp-scgi;\n"
             << "  log_format bench '$uri $status \"$http_range\" $body_bytes_sent';\n"
             << "  access_log " << d << "/access.log bench;\n"
             << "  keepalive_requests 100000;\n"
             << "  server {\n"
             << "    listen 127.0.0.1:" << port_ << ";\n"
             << "    root " << d << "/www;\n"
             << "    location /limited/ { limit_rate 4m; sendfile on; sendfile_max_chunk 64k; }\n"
             << "    location /free/ { sendfile on; }\n"
             << "  }\n"
             << "}\n";
    }

    std::string program_;
    std::string folder_;
    pid_t pid_ = -1;
    unsigned short port_ = 0;
};

// --- One run --------------------------------------------------------------------

struct Figures {
    double wall = 0;
    double cpu = 0;
    bool exact = false;
    unsigned peak = 0;  // connectionsInUse at its highest; ours only
    int requests = 0;   // requests nginx logged for the file during the run
};

double CpuSeconds(const rusage& u) {
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// What the child running our fetch tells the bench.
struct ChildReport {
    unsigned long result;
    unsigned peak;
};

// The child's part: one VBRINDLEX run with `connections`, its connectionsInUse
// sampled while it runs.
[[noreturn]] void FetchInChild(const std::string& url, const std::string& out, unsigned connections,
                               int reportFd) {
    VBRINDLEX t;
    t.SetURL(url.c_str());
    t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(out.c_str()));
    t.connections = connections;
    std::atomic<bool> running{true};
    std::atomic<unsigned> peak{0};
    std::thread sampler([&] {
        while (running.load()) {
            const unsigned now = t.connectionsInUse.load(std::memory_order_relaxed);
            if (now > peak.load()) peak.store(now);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const unsigned long result = t.Go();
    running.store(false);
    sampler.join();
    const ChildReport report{result, peak.load()};
    const bool written = write(reportFd, &report, sizeof report) == sizeof report;
    _exit(written ? 0 : 1);
}

// Lines nginx logged after `offset` for `uri`; `offset` moves past them.
std::vector<std::string> LoggedSince(const std::string& log, std::size_t* offset,
                                     const std::string& uri) {
    const std::string all = Nginx::ReadAll(log);
    std::vector<std::string> lines;
    std::stringstream fresh(all.substr(std::min(*offset, all.size())));
    *offset = all.size();
    for (std::string line; std::getline(fresh, line);) {
        if (line.compare(0, uri.size() + 1, uri + " ") == 0) lines.push_back(line);
    }
    return lines;
}

// A run of ours (connections > 0) or of aria2c (connections == 0, `aria2` its
// path) fetching `uri` into `out`, timed from its start to its file synced.
Figures Run(const Nginx& nginx, const std::string& uri, const std::string& served,
            const std::string& out, unsigned connections, const std::string& aria2) {
    unlink(out.c_str());
    unlink((out + ".aria2").c_str());
    sync();
    std::size_t logOffset = Nginx::ReadAll(nginx.AccessLogPath()).size();
    int report[2];
    if (pipe(report) != 0) return {};
    const std::string url = nginx.Url(uri);
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        if (connections > 0) FetchInChild(url, out, connections, report[1]);
        const fs::path target(out);
        const std::string dir = target.parent_path().string();
        const std::string name = target.filename().string();
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, STDOUT_FILENO);
        execl(aria2.c_str(), "aria2c", "-x8", "-s8", "-k1M", "--no-conf=true",
              "--allow-overwrite=true", "--auto-file-renaming=false", "--summary-interval=0",
              "--console-log-level=error", "-d", dir.c_str(), "-o", name.c_str(), url.c_str(),
              nullptr);
        _exit(127);
    }
    close(report[1]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const int fd = open(out.c_str(), O_RDONLY);
    if (fd >= 0) {
        fdatasync(fd);
        close(fd);
    }
    Figures f;
    f.wall = std::chrono::duration<double>(Clock::now() - start).count();
    f.cpu = CpuSeconds(usage);
    bool fine = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (connections > 0) {
        ChildReport r{};
        fine = fine && read(report[0], &r, sizeof r) == sizeof r && r.result == RESULT_OK;
        f.peak = r.peak;
    }
    close(report[0]);
    f.exact = fine && SameBytes(served, out);
    const std::vector<std::string> lines = LoggedSince(nginx.AccessLogPath(), &logOffset, uri);
    f.requests = static_cast<int>(lines.size());
    unlink(out.c_str());
    return f;
}

void Print(const char* who, int round, const Figures& f, std::uint64_t size, bool ours) {
    std::printf("  round %d  %-8s %7.2f s wall %7.1f MiB/s %6.2f s CPU  requests %3d", round, who,
                f.wall, static_cast<double>(size) / kMiB / f.wall, f.cpu, f.requests);
    if (ours) std::printf("  peak connectionsInUse %u", f.peak);
    std::printf("  %s\n", f.exact ? "byte-exact" : "FAILED (not byte-exact or error)");
    std::fflush(stdout);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// "median (min-max)" of a figure, so a busy machine's noise shows beside it.
std::string Spread(const std::vector<double>& values, const char* unit) {
    if (values.empty()) return "-";
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    char text[96];
    std::snprintf(text, sizeof text, "%.2f %s (%.2f-%.2f)", Median(values), unit, *low, *high);
    return text;
}

// Prints a target's figure and verdict; false when it was missed.
bool Target(const char* what, double value, const char* relation, double bound) {
    const bool met = relation[0] == '<' ? value <= bound : value >= bound;
    std::printf("  %-44s %6.2f  (target %s %.2f)  %s\n", what, value, relation, bound,
                met ? "met" : "MISSED");
    return met;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 3;
    std::string base = "/var/tmp";
    int only = 0;  // every case
    std::uint64_t bigMiB = 1024;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--folder" && i + 1 < argc) {
            base = argv[++i];
        } else if (arg == "--case" && i + 1 < argc) {
            only = std::atoi(argv[++i]);
        } else if (arg == "--size" && i + 1 < argc) {
            bigMiB = static_cast<std::uint64_t>(std::max(1, std::atoi(argv[++i])));
        } else {
            std::fprintf(stderr,
                         "usage: split_bench [--runs N] [--folder DIR] [--case C] [--size MIB]\n");
            return 2;
        }
    }
    // Both sides go straight to 127.0.0.1, whatever the environment says.
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY",
                             "all_proxy", "no_proxy", "NO_PROXY"}) {
        unsetenv(name);
    }
    const std::string nginxPath = FindProgram("nginx");
    const std::string aria2Path = FindProgram("aria2c");
    if (nginxPath.empty()) {
        std::fprintf(stderr,
                     "split_bench: nginx not found: install the Debian package nginx-light\n");
        return 2;
    }
    if (aria2Path.empty()) {
        std::fprintf(stderr, "split_bench: aria2c not found: install the Debian package aria2\n");
        return 2;
    }
    if (const std::string problem = FolderProblem(base); !problem.empty()) {
        std::fprintf(stderr, "split_bench: %s %s: give --folder on a disk file system\n",
                     base.c_str(), problem.c_str());
        return 2;
    }
    std::string pattern = base + "/vantorel-split-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "split_bench: cannot make a folder in %s\n", base.c_str());
        return 2;
    }
    const std::string work = pattern;
    fs::create_directories(work + "/www/limited");
    fs::create_directories(work + "/www/free");
    fs::create_directories(work + "/out");
    const std::string limited = work + "/www/limited/64m.bin";
    const std::string big = work + "/www/free/1g.bin";
    const std::string small = work + "/www/free/1m.bin";
    std::printf("Folder %s; writing the served files...\n", work.c_str());
    std::fflush(stdout);
    if (only == 0 || only == 1) WriteServedFile(limited, 64 * kMiB, 1);
    if (only == 0 || only == 2) WriteServedFile(big, bigMiB * kMiB, 2);
    if (only == 0 || only == 3) WriteServedFile(small, kMiB, 3);
    const std::string out = work + "/out/download.bin";

    int exitCode = 0;
    {
        Nginx nginx(nginxPath, work);
        if (!nginx.Start()) {
            std::fprintf(stderr, "split_bench: nginx did not start:\n%s\n",
                         nginx.ErrorLog().c_str());
            fs::remove_all(work);
            return 2;
        }
        std::printf("nginx %s on %s; aria2c %s; %d rounds, medians\n", nginxPath.c_str(),
                    nginx.Url("/").c_str(), aria2Path.c_str(), rounds);
        bool allExact = true;
        bool split = true;  // ours with 8 really opened several connections

        bool met = true;
        if (only == 0 || only == 1) {
            std::printf("\n1. 64 MiB, server limited to 4 MiB/s per connection\n");
            std::vector<double> ours8, ours1, aria;
            for (int round = 1; round <= rounds; ++round) {
                // Each round in another order, so no side always follows the same one.
                for (int k = 0; k < 3; ++k) {
                    const int which = (round - 1 + k) % 3;
                    const bool isOurs = which != 2;
                    const unsigned connections = which == 0 ? 8 : which == 1 ? 1 : 0;
                    const Figures f =
                        Run(nginx, "/limited/64m.bin", limited, out, connections, aria2Path);
                    Print(which == 0   ? "ours x8"
                          : which == 1 ? "ours x1"
                                       : "aria2 x8",
                          round, f, 64 * kMiB, isOurs);
                    allExact = allExact && f.exact;
                    (which == 0 ? ours8 : which == 1 ? ours1 : aria).push_back(f.wall);
                    if (which == 0 && f.peak < 2) split = false;
                }
            }
            const double m8 = Median(ours8), m1 = Median(ours1), ma = Median(aria);
            std::printf("  walls, median (min-max): ours x8 %s, ours x1 %s, aria2 x8 %s\n",
                        Spread(ours8, "s").c_str(), Spread(ours1, "s").c_str(),
                        Spread(aria, "s").c_str());
            met = Target("wall ours x8 / aria2 x8", m8 / ma, "<=", 1.15) && met;
            met = Target("wall ours x1 / ours x8", m1 / m8, ">=", 6.0) && met;
        }

        if (only == 0 || only == 2) {
            const double gib = static_cast<double>(bigMiB) / 1024;
            std::printf("\n2. %llu MiB, no limit\n", static_cast<unsigned long long>(bigMiB));
            std::vector<double> wall1, wall8, cpu1, cpu8;
            for (int round = 1; round <= rounds; ++round) {
                for (int k = 0; k < 2; ++k) {
                    const unsigned connections = (round + k) % 2 == 0 ? 1 : 8;
                    const Figures f = Run(nginx, "/free/1g.bin", big, out, connections, aria2Path);
                    Print(connections == 1 ? "ours x1" : "ours x8", round, f, bigMiB * kMiB, true);
                    allExact = allExact && f.exact;
                    (connections == 1 ? wall1 : wall8).push_back(f.wall);
                    (connections == 1 ? cpu1 : cpu8).push_back(f.cpu);
                    if (connections == 8 && f.peak < 2) split = false;
                }
            }
            const double t1 = static_cast<double>(bigMiB) / Median(wall1);
            const double t8 = static_cast<double>(bigMiB) / Median(wall8);
            const double c1 = Median(cpu1) / gib, c8 = Median(cpu8) / gib;
            std::printf("  medians: x1 %.1f MiB/s %.2f s CPU/GiB, x8 %.1f MiB/s %.2f s CPU/GiB\n",
                        t1, c1, t8, c8);
            std::printf("  walls, median (min-max): x1 %s, x8 %s; CPU: x1 %s, x8 %s\n",
                        Spread(wall1, "s").c_str(), Spread(wall8, "s").c_str(),
                        Spread(cpu1, "s").c_str(), Spread(cpu8, "s").c_str());
            met = Target("throughput x8 / x1", t8 / t1, ">=", 0.95) && met;
            met = Target("CPU per GiB x8 / x1", c8 / c1, "<=", 1.2) && met;
        }

        bool one = true;
        if (only == 0 || only == 3) {
            std::printf("\n3. 1 MiB, no limit, 8 connections allowed\n");
            const Figures f = Run(nginx, "/free/1m.bin", small, out, 8, aria2Path);
            Print("ours x8", 1, f, kMiB, true);
            allExact = allExact && f.exact;
            one = f.requests == 1 && f.peak <= 1;
            std::printf("  one request: %s\n", one ? "yes" : "NO");
        }

        std::printf(
            "\nSeveral connections really used by ours x8: %s\n",
            split ? "yes" : "NO (peak connectionsInUse below 2: the figures are one connection's)");
        std::printf("All runs byte-exact: %s\n", allExact ? "yes" : "NO");
        if (!(met && one && allExact && split)) exitCode = 1;
        nginx.Stop();
    }
    fs::remove_all(work);
    return exitCode;
}
