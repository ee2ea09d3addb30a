// A process killed while it saves the list file never leaves a damaged one: the
// file holds either the previous queue or the new one, whole.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <string>

#include "list_file.h"
#include "model_fixture.h"

namespace {

constexpr int kJobs = 3000;
constexpr int kKills = 40;

// Every record names the generation, so each save differs from the one before.
std::string JobUrl(int generation, int job) {
    return "http://127.0.0.1:1/gen" + std::to_string(generation) + "/job" + std::to_string(job);
}

std::string Expected(int generation) {
    std::string bytes;
    for (int job = 0; job < kJobs; ++job) {
        bytes += "\"" + JobUrl(generation, job) + "\" \"file" + std::to_string(job) + ".bin\"\n";
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

class ListFileKill : public modeltest::ModelTest {};

TEST_F(ListFileKill, KilledSaveLeavesTheOldOrTheNewFileWhole) {
    for (int job = 0; job < kJobs; ++job) {
        modeltest::AddJob(JobUrl(0, job), "file" + std::to_string(job) + ".bin");
    }
    SaveJobList();
    ASSERT_EQ(modeltest::ReadFile(listPath), Expected(0));

    std::mt19937 rng(7151);
    std::uniform_int_distribution<int> delayUs(0, 20000);
    int generation = 0;
    int changes = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        const int first = generation + 1;
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Saves new generations until killed (bounded, in case the parent dies).
            for (int g = first; g < first + 100000; ++g) {
                SetGeneration(g);
                SaveJobList();
            }
            _exit(0);
        }
        usleep(static_cast<useconds_t>(delayUs(rng)));
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);

        const std::string bytes = modeltest::ReadFile(listPath);
        const int found = GenerationOf(bytes);
        ASSERT_TRUE(found == generation || found >= first) << "kill " << kill << ": " << found;
        ASSERT_EQ(bytes, Expected(found)) << "kill " << kill << ": damaged list file";
        if (found != generation) {
            ++changes;
            generation = found;
        }
    }
    // The children did save now and then; otherwise nothing was tested.
    EXPECT_GT(changes, 0);

    // What is on disk also loads whole.
    modeltest::DestroyAllJobs();
    LoadJobList();
    EXPECT_EQ(modeltest::Jobs().size(), static_cast<std::size_t>(kJobs));
}

}  // namespace
