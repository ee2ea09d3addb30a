// A process killed while it saves the list file never leaves a damaged one: the
// file holds either the previous queue or the new one, whole.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>

#include "concat.h"
#include "list_file.h"
#include "list_save.h"
#include "model_fixture.h"

namespace {

constexpr int kJobs = 3000;
constexpr int kKills = 40;

using Clock = std::chrono::steady_clock;

// Every record names the generation, so each save differs from the one before.
std::string JobUrl(int generation, int job) {
    return "http://127.0.0.1:1/gen" + std::to_string(generation) + "/job" + std::to_string(job);
}

std::string Expected(int generation) {
    std::string bytes;
    for (int job = 0; job < kJobs; ++job) {
        bytes += vtest::Concat("\"", JobUrl(generation, job), "\" \"file", std::to_string(job),
                               ".bin\"\n");
    }
    return bytes;
}

// The generation the file's first record names; -1 when there is none.
int GenerationOf(const std::string& bytes) {
    const std::size_t at = bytes.find("/gen");
    return at == std::string::npos ? -1 : std::atoi(bytes.c_str() + at + 4);
}

void SetGeneration(int generation) {
    int job = 0;
    for (DownloadJob* j = jobList; j != nullptr; j = j->next) {
        j->SetURL(JobUrl(generation, job++).c_str());
    }
}

// Kills and reaps a child the test leaves behind when an assertion ends it early.
struct ChildGuard {
    pid_t pid = -1;
    ~ChildGuard() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
};

class ListFileKill : public modeltest::ModelTest {};

TEST_F(ListFileKill, KilledSaveLeavesTheOldOrTheNewFileWhole) {
    for (int job = 0; job < kJobs; ++job) {
        modeltest::AddJob(JobUrl(0, job), "file" + std::to_string(job) + ".bin");
    }
    SaveJobList();
    ASSERT_EQ(modeltest::ReadFile(listPath), Expected(0));

    // Kill points: after 0 to 2 saves the child reports whole, plus a random delay
    // of up to about two saves, so kills land before, inside and between saves.
    // Waiting for the reports, rather than for a time, keeps the test meaningful
    // on a slow or loaded machine.
    const Clock::time_point start = Clock::now();
    SaveJobList();
    const auto saveUs = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
    std::mt19937 rng(7151);
    std::uniform_int_distribution<int> savesBefore(0, 2);
    std::uniform_int_distribution<long> delayUs(0, 2 * saveUs.count() + 100);
    int generation = 0;
    int changes = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        const int first = generation + 1;
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(pipeFds[0]);
            // Saves new generations until killed (bounded, in case the parent dies).
            for (int g = first; g < first + 100000; ++g) {
                SetGeneration(g);
                SaveJobList();
                const char done = 'x';
                if (write(pipeFds[1], &done, 1) != 1) {
                    _exit(2);
                }
            }
            _exit(0);
        }
        ChildGuard guard{child};
        close(pipeFds[1]);
        for (int saves = savesBefore(rng); saves > 0; --saves) {
            char done = 0;
            ASSERT_EQ(read(pipeFds[0], &done, 1), 1);
        }
        usleep(static_cast<useconds_t>(delayUs(rng)));
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        guard.pid = -1;
        close(pipeFds[0]);

        const std::string bytes = modeltest::ReadFile(listPath);
        const int found = GenerationOf(bytes);
        ASSERT_TRUE(found == generation || found >= first) << "kill " << kill << ": " << found;
        ASSERT_EQ(bytes, Expected(found)) << "kill " << kill << ": damaged list file";
        if (found != generation) {
            ++changes;
            generation = found;
        }
    }
    // Some kills came after whole saves, so the file did move on.
    EXPECT_GT(changes, 0);

    // What is on disk also loads whole.
    modeltest::DestroyAllJobs();
    LoadJobList();
    EXPECT_EQ(modeltest::Jobs().size(), static_cast<std::size_t>(kJobs));
}

}  // namespace
