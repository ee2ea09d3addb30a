// Throughput of one fetch against the curl command line, on loopback.
//
//   transfer_bench [MiB]      (default 1024)
//
// A child process serves a generated body of MiB mebibytes from 127.0.0.1; the bench
// fetches it with VBRINDLEX::Go and with `curl -o`, and prints MB/s, CPU seconds and
// the ratio. Then the same with the server limited to 100 MB/s (a gigabit link).
// The server runs in its own process so the CPU figures are the client's alone.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "brindlex/vbrindlex.h"
#include "test_server.h"

namespace {

struct Figures {
    double seconds = 0;
    double cpuSeconds = 0;
    bool ok = false;
};

double CpuSeconds(const rusage& u) {
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Starts a server process; returns its pid and sets `port`. It ends when its pipe closes.
pid_t StartServer(std::uint64_t size, std::uint64_t rate, unsigned short* port, int* keepAlive) {
    int portPipe[2], lifePipe[2];
    if (pipe(portPipe) != 0 || pipe(lifePipe) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(portPipe[0]);
        close(lifePipe[1]);
        {
            vtest::TestServer server;
            server.Set("/big", vtest::Route{.size = size, .bytesPerSecond = rate});
            const unsigned short p = server.Port();
            if (write(portPipe[1], &p, sizeof p) != sizeof p) _exit(1);
            char c;
            while (read(lifePipe[0], &c, 1) > 0) {
            }
        }
        _exit(0);
    }
    close(portPipe[1]);
    close(lifePipe[0]);
    const bool got = read(portPipe[0], port, sizeof *port) == sizeof *port;
    close(portPipe[0]);
    *keepAlive = lifePipe[1];
    return got ? pid : -1;
}

std::uint64_t FileLength(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

Figures FetchWithBrindlex(const std::string& url, const std::string& out, std::uint64_t size) {
    std::remove(out.c_str());
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    VBRINDLEX t;
    t.SetURL(url.c_str());
    t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(out.c_str()));
    const unsigned long result = t.Go();
    Figures f;
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    getrusage(RUSAGE_SELF, &after);
    f.cpuSeconds = CpuSeconds(after) - CpuSeconds(before);
    f.ok = result == RESULT_OK && FileLength(out) == size;
    return f;
}

Figures FetchWithCurl(const std::string& url, const std::string& out, std::uint64_t size) {
    std::remove(out.c_str());
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execlp("curl", "curl", "-s", "--noproxy", "*", "-o", out.c_str(), url.c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Figures f;
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    f.cpuSeconds = CpuSeconds(usage);
    f.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && FileLength(out) == size;
    return f;
}

void Report(const char* who, const Figures& f, std::uint64_t size) {
    std::printf("  %-9s %8.1f MB/s  %6.2f s wall  %6.2f s CPU  %s\n", who,
                static_cast<double>(size) / 1e6 / f.seconds, f.seconds, f.cpuSeconds,
                f.ok ? "" : "(FAILED)");
}

void Round(const char* title, std::uint64_t size, std::uint64_t rate, const std::string& out) {
    unsigned short port = 0;
    int keepAlive = -1;
    const pid_t server = StartServer(size, rate, &port, &keepAlive);
    if (server < 0) {
        std::printf("%s: could not start the server\n", title);
        return;
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/big";
    std::printf("%s (%llu MiB)\n", title, static_cast<unsigned long long>(size >> 20));
    const Figures ours = FetchWithBrindlex(url, out, size);
    Report("Brindlex", ours, size);
    const bool haveCurl = std::system("command -v curl >/dev/null 2>&1") == 0;
    if (haveCurl) {
        const Figures curl = FetchWithCurl(url, out, size);
        Report("curl", curl, size);
        std::printf("  throughput ratio Brindlex/curl: %.2f   wall ratio Brindlex/curl: %.2f\n",
                    curl.seconds / ours.seconds, ours.seconds / curl.seconds);
    } else {
        std::printf("  (curl command line not installed: no comparison)\n");
    }
    close(keepAlive);
    waitpid(server, nullptr, 0);
    std::remove(out.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const std::uint64_t size = mib << 20;
    // Memory-backed when possible, so the disk does not decide the race.
    const std::string folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    const std::string out = folder + "/vantorel-bench-" + std::to_string(getpid());
    Round("Loopback, unlimited", size, 0, out);
    Round("Loopback, server limited to 100 MB/s", size, 100'000'000, out);
    return 0;
}
