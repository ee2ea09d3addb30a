// Saving and loading a list file of 10,000 jobs. Run by hand:
//   list_file_bench [folder]      (default: the temporary directory)
// Prints the best and the median of several rounds; the save includes the
// flushes to the disk that make the replacement safe, so the folder's disk counts.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "job_queue.h"
#include "list_file.h"
#include "list_save.h"

namespace {

constexpr int kJobs = 10000;
constexpr int kRounds = 15;

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void DestroyAll() {
    while (jobList != nullptr) {
        RemoveJob(jobList);
    }
}

// Typical entries: a URL of 60 to 90 characters and a bare file name.
void FillQueue() {
    for (int i = 0; i < kJobs; ++i) {
        auto* job = new DownloadJob();
        const std::string number = std::to_string(i);
        const std::string url = "https://downloads.example.test/releases/2024/packages/archive-" +
                                number + std::string(static_cast<std::size_t>(i % 30), 'x') +
                                ".tar.gz";
        job->SetURL(url.c_str());
        SetJobFileName(job, ("archive-" + number + ".tar.gz").c_str());
        AppendJob(job);
    }
}

void Report(const char* what, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    std::printf("%-6s best %7.2f ms   median %7.2f ms   worst %7.2f ms\n", what, times.front(),
                times[times.size() / 2], times.back());
}

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path folder =
        argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path();
    listPath = folder / "list_file_bench.dat";

    std::vector<double> saves;
    std::vector<double> loads;
    FillQueue();
    for (int round = 0; round < kRounds; ++round) {
        const Clock::time_point start = Clock::now();
        SaveJobList();
        saves.push_back(Milliseconds(Clock::now() - start));
    }
    DestroyAll();
    for (int round = 0; round < kRounds; ++round) {
        const Clock::time_point start = Clock::now();
        LoadJobList();
        loads.push_back(Milliseconds(Clock::now() - start));
        DestroyAll();
    }
    LoadJobList();
    int loaded = 0;
    for (const DownloadJob* job = jobList; job != nullptr; job = job->next) {
        ++loaded;
    }
    DestroyAll();

    std::printf("list file of %d jobs, %ju bytes, in %s\n", loaded,
                static_cast<std::uintmax_t>(std::filesystem::file_size(listPath)), folder.c_str());
    Report("save", saves);
    Report("load", loads);
    std::filesystem::remove(listPath);
    return loaded == kJobs ? 0 : 1;
}
