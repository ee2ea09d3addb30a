// Shared by the model tests: a scratch folder, and a queue emptied after each test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "job_queue.h"
#include "list_file.h"
#include "temp_dir.h"

namespace modeltest {

using TempDir = vtest::TempDir;

inline std::string ReadFile(const std::string& path) { return vtest::ReadWholeFile(path); }

inline void WriteFile(const std::string& path, const std::string& bytes) {
    vtest::WriteWholeFile(path, bytes);
}

// Stops and collects any run still in progress, then destroys every job.
inline void DestroyAllJobs() {
    while (jobList != nullptr) {
        DownloadJob* job = jobList;
        if (job->thread != nullptr) {
            VSetEvent(job->stopEvent);
            VWait(job->thread, V_INFINITE);
            job->CloseHandles();
        }
        RemoveJob(job);
    }
}

inline DownloadJob* AddJob(const std::string& url, const std::string& fileName) {
    auto* job = new DownloadJob();
    job->SetURL(url.c_str());
    SetJobFileName(job, fileName.c_str());
    AppendJob(job);
    return job;
}

using Fields = std::vector<std::pair<std::string, std::string>>;

// URL and file name of every job, in list order ("<null>" for a missing name).
inline Fields JobFields() {
    Fields fields;
    for (const DownloadJob* job = jobList; job != nullptr; job = job->next) {
        fields.emplace_back(job->url, job->fileName != nullptr ? job->fileName : "<null>");
    }
    return fields;
}

inline std::vector<DownloadJob*> Jobs() {
    std::vector<DownloadJob*> jobs;
    for (DownloadJob* job = jobList; job != nullptr; job = job->next) {
        jobs.push_back(job);
    }
    return jobs;
}

// Each test gets an empty queue, a scratch folder holding the list file, and
// the default limits back afterwards.
class ModelTest : public ::testing::Test {
protected:
    explicit ModelTest(const std::string& base = "") : dir_(base) {}

    void SetUp() override {
        ASSERT_FALSE(dir_.Path().empty());
        listPath = dir_.File("filelist.dat");
        maxFiles = 1;
        maxTries = 5;
        connectionsPerDownload = kDefaultConnections;
    }
    void TearDown() override {
        DestroyAllJobs();
        listPath.clear();
    }

    // Replaces the list file with `bytes` and loads it into an empty queue.
    Fields LoadBytes(const std::string& bytes) {
        DestroyAllJobs();
        WriteFile(listPath, bytes);
        LoadJobList();
        return JobFields();
    }

    TempDir dir_;
};

}  // namespace modeltest
