// What the widget tests share: a fresh queue, settings and list file in a folder
// of the test's own, which is also the current (save) folder, and a way to run
// the event loop until something has happened.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <QTest>
#include <filesystem>
#include <string>

#include "app_settings.h"
#include "app_shutdown.h"
#include "job_queue.h"
#include "list_file.h"
#include "list_save.h"
#include "temp_dir.h"

namespace vtest {

// Long enough for a loaded machine; a test that gets there has failed anyway.
inline constexpr int kPatienceMs = 60000;

class UiTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        ASSERT_EQ(jobList, nullptr);
        startFolder = std::filesystem::current_path();
        ASSERT_EQ(::chdir(dir.path().c_str()), 0);
        listPath = dir / "filelist.dat";
        maxFiles = 1;
        maxTries = 5;
        connectionsPerDownload = kDefaultConnections;
        for (int& width : colWidths) width = 50;
    }

    void TearDown() override {
        StopAndWaitForAllRuns();
        DestroyAllJobs();
        std::filesystem::current_path(startFolder);
    }

    // Appends a waiting job (not started).
    DownloadJob* AddJob(const std::string& url, const std::string& fileName) {
        auto* job = new DownloadJob();
        job->SetURL(url.c_str());
        SetJobFileName(job, fileName.c_str());
        AppendJob(job);
        return job;
    }

    // Appends a job whose run ended long ago with `status`, counted as such.
    DownloadJob* AddEnded(const std::string& name, long long status) {
        DownloadJob* job = AddJob("http://127.0.0.1:9/" + name, name);
        job->status = status;
        JobStatusSet(job);
        return job;
    }

    static int JobCount() {
        int count = 0;
        for (DownloadJob* job = jobList; job != nullptr; job = job->next) ++count;
        return count;
    }

    // Serves events until `done` holds; false when patience ran out.
    template <typename Predicate>
    static bool LoopUntil(Predicate done) {
        return QTest::qWaitFor(done, kPatienceMs);
    }

    std::string ListFileText() const { return ReadWholeFile(listPath); }

    TempDir dir;
    std::filesystem::path startFolder;
};

}  // namespace vtest
