// The speed limit shared by several downloads, against its target.
//
//   speed_limit_bench [KiB/s] [downloads] [seconds]      (default 2048 4 20)
//
// A child process serves large generated bodies from 127.0.0.1 as fast as the
// socket takes them; the bench sets the process-wide limit, starts the downloads at
// once and after the given time prints what each and all of them wrote per second,
// as a share of the limit (target: the total within 5%) and of an even share
// (target: each within 15%).
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "brindlex/vbrindlex.h"
#include "test_server.h"

namespace {

constexpr std::uint64_t kBodySize = std::uint64_t{4} << 30;  // never done within the run

// Starts a server process with `count` routes /big0, /big1...; returns its pid and
// sets `port`. It ends when the pipe `keepAlive` closes.
pid_t StartServer(int count, unsigned short* port, int* keepAlive) {
    int portPipe[2], lifePipe[2];
    if (pipe(portPipe) != 0 || pipe(lifePipe) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(portPipe[0]);
        close(lifePipe[1]);
        {
            vtest::TestServer server;
            for (int i = 0; i < count; ++i) {
                server.Set("/big" + std::to_string(i), vtest::Route{.size = kBodySize});
            }
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

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t kib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 2048;
    const int count = argc > 2 ? std::atoi(argv[2]) : 4;
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 20;
    if (kib == 0 || count < 1 || seconds < 1) {
        std::fprintf(stderr, "usage: speed_limit_bench [KiB/s] [downloads] [seconds]\n");
        return 2;
    }
    unsigned short port = 0;
    int keepAlive = -1;
    const pid_t server = StartServer(count, &port, &keepAlive);
    if (server < 0) {
        std::fprintf(stderr, "could not start the server\n");
        return 1;
    }
    const std::string folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    VSetSpeedLimit(kib * 1024);
    std::vector<std::unique_ptr<VBRINDLEX>> runs;
    std::vector<std::string> urls, files;
    for (int i = 0; i < count; ++i) {
        urls.push_back("http://127.0.0.1:" + std::to_string(port) + "/big" + std::to_string(i));
        files.push_back(folder + "/vantorel-limit-" + std::to_string(getpid()) + "-" +
                        std::to_string(i));
        std::remove(files.back().c_str());
    }
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        auto run = std::make_unique<VBRINDLEX>();
        run->SetURL(urls[static_cast<std::size_t>(i)].c_str());
        run->SetDataReceptor(
            reinterpret_cast<std::uintptr_t>(files[static_cast<std::size_t>(i)].c_str()));
        run->GoAsync();
        runs.push_back(std::move(run));
    }
    std::this_thread::sleep_until(start + std::chrono::seconds(seconds));
    std::vector<std::uint64_t> got;
    for (auto& run : runs) got.push_back(run->received.load());
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (auto& run : runs) run->StopAsync();
    for (auto& run : runs) VWait(run->thread, V_INFINITE);

    const double limit = static_cast<double>(kib);
    const double share = limit / count;
    double total = 0;
    for (std::uint64_t bytes : got) total += static_cast<double>(bytes) / 1024 / elapsed;
    const bool totalOk = std::fabs(total / limit - 1) <= 0.05;
    std::printf("Speed limit %llu KiB/s, %d downloads, %.1f s\n",
                static_cast<unsigned long long>(kib), count, elapsed);
    std::printf("  total     %9.1f KiB/s  %6.1f%% of the limit (target 95-105%%)  %s\n", total,
                100 * total / limit, totalOk ? "ok" : "OUT");
    bool eachOk = true;
    for (std::size_t i = 0; i < got.size(); ++i) {
        const double rate = static_cast<double>(got[i]) / 1024 / elapsed;
        const bool ok = std::fabs(rate / share - 1) <= 0.15;
        eachOk = eachOk && ok;
        std::printf("  download %zu %8.1f KiB/s  %6.1f%% of an even share (target 85-115%%)  %s\n",
                    i + 1, rate, 100 * rate / share, ok ? "ok" : "OUT");
    }
    for (const std::string& file : files) std::remove(file.c_str());
    close(keepAlive);
    waitpid(server, nullptr, 0);
    return totalOk && eachOk ? 0 : 1;
}
