// A download writes only into its own file: the free name given at adding, the
// check at the first run, and the reservation a deleted job leaves behind.
#include "own_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "job_control.h"
#include "list_save.h"
#include "model_fixture.h"

namespace {

namespace fs = std::filesystem;
using modeltest::ReadFile;
using modeltest::WriteFile;

std::vector<DownloadJob*> started;

VHANDLE FakeStart(DownloadJob* job) {
    started.push_back(job);
    job->thread = VCreateEvent(true, false);
    return job->thread;
}

class OwnFileTest : public modeltest::ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        startFolder_ = fs::current_path();
        fs::current_path(dir_.Path());
        startRun = FakeStart;
        started.clear();
        maxFiles = 0;
    }
    void TearDown() override {
        EndFakeRuns();
        ModelTest::TearDown();
        startRun = saved_;
        fs::current_path(startFolder_);
    }

    // Nobody else would end these runs.
    static void EndFakeRuns() {
        for (DownloadJob* job : started) {
            if (job->thread == nullptr) continue;
            VSetEvent(job->thread);
            CollectRun(job);
        }
        started.clear();
    }

    // A fresh folder made current, with `files` in it.
    std::string EnterFolder(const std::string& name, const std::vector<std::string>& files) {
        const std::string folder = dir_.File(name);
        fs::create_directories(folder);
        fs::current_path(folder);
        for (const std::string& file : files) WriteFile(file, "old");
        return folder;
    }

    // Another file at `name`, made before the old one goes, so that it can never
    // get the old one's inode number.
    static void ReplaceFile(const std::string& name, const std::string& bytes) {
        WriteFile("replacement.tmp", bytes);
        fs::rename("replacement.tmp", name);
    }

    DownloadJob* Add(const std::string& name) {
        DownloadJob* job = nullptr;
        EXPECT_EQ(AddNewFileJob("http://host/x", name, &job), kJobAdded) << name;
        return job;
    }

    fs::path startFolder_;
    VHANDLE (*saved_)(DownloadJob*) = startRun;
};

TEST_F(OwnFileTest, AddedJobTakesTheFirstNameNoFileAndNoJobHas) {
    struct Case {
        std::vector<std::string> files;   // in the save folder
        std::vector<std::string> queued;  // names of queued jobs ("@" = the folder)
        std::string name;
        std::string expected;  // "" = refused as too long
    };
    const std::string long253(253, 'a');
    const Case cases[] = {
        {{"slow2.bin"}, {}, "slow2.bin", "slow2 (1).bin"},
        {{"report.txt", "report (1).txt"}, {}, "report.txt", "report (2).txt"},
        {{"name"}, {}, "name", "name (1)"},
        {{".bashrc"}, {}, ".bashrc", ".bashrc (1)"},
        {{"site.tar.gz"}, {}, "site.tar.gz", "site (1).tar.gz"},
        {{}, {"x.bin"}, "x.bin", "x (1).bin"},
        {{}, {"./x.bin"}, "x.bin", "x (1).bin"},
        {{}, {"@/x.bin"}, "x.bin", "x (1).bin"},
        {{}, {"sub/../x.bin"}, "x.bin", "x (1).bin"},
        {{"x.bin"}, {"x (1).bin"}, "x.bin", "x (2).bin"},
        {{}, {"other/x.bin", "x.bin.part"}, "x.bin", "x.bin"},
        {{long253}, {}, long253, ""},  // "… (1)" is 257 bytes
        {{}, {}, std::string(255, 'b'), std::string(255, 'b')},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.substr(0, 20) + " case " + std::to_string(index));
        modeltest::DestroyAllJobs();
        const std::string folder = EnterFolder("case" + std::to_string(index++), c.files);
        for (std::string name : c.queued) {
            if (name[0] == '@') name = folder + name.substr(1);
            modeltest::AddJob("http://host/q", name);
        }
        DownloadJob* job = nullptr;
        const NewFileOutcome outcome = AddNewFileJob("http://host/x", c.name, &job);
        if (c.expected.empty()) {
            EXPECT_EQ(outcome, kFileNameTooLong);
            continue;
        }
        ASSERT_EQ(outcome, kJobAdded);
        EXPECT_EQ(std::string(job->fileName), c.expected);
        // Reserved: the file exists, empty; the files that were there are untouched.
        EXPECT_EQ(ReadFile(c.expected), "");
        for (const std::string& file : c.files) {
            EXPECT_EQ(ReadFile(file), "old") << file;
        }
    }
}

TEST_F(OwnFileTest, FirstRunNeverTakesOverAFileItDidNotMake) {
    const std::string long253 = std::string(249, 'l') + ".bin";
    struct Case {
        const char* what;
        std::string name;
        bool replaced;         // the reservation removed and another file put there
        const char* folder;    // save folder changed to this one before the run
        bool fileInNewFolder;  // holding a file of the job's name
        std::string expected;  // "" = fails without a run: no free name fits
    };
    const Case cases[] = {
        {"reservation kept", "f.bin", false, nullptr, false, "f.bin"},
        {"another file in its place", "f.bin", true, nullptr, false, "f (1).bin"},
        {"new save folder holds the name", "f.bin", false, "new1", true, "f (1).bin"},
        {"new save folder without it", "f.bin", false, "new2", false, "f.bin"},
        {"no free name fits", long253, true, nullptr, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EndFakeRuns();
        modeltest::DestroyAllJobs();
        maxFiles = 0;
        const std::string first = EnterFolder(std::string("first-") + c.what, {});
        DownloadJob* job = Add(c.name);
        ASSERT_NE(job, nullptr);
        if (c.replaced) ReplaceFile(c.name, "old");
        if (c.folder != nullptr) {
            EnterFolder(c.folder, c.fileInNewFolder ? std::vector<std::string>{c.name}
                                                    : std::vector<std::string>{});
        }
        maxFiles = 1;
        StartJobs();
        if (c.replaced || c.fileInNewFolder) {
            EXPECT_EQ(ReadFile(c.name), "old");
        }
        if (c.expected.empty()) {
            EXPECT_EQ(job->thread, nullptr);
            EXPECT_EQ(job->status.load(), STATUS_FAILED);
            EXPECT_EQ(job->result.load(), RESULT_FILE_PROBLEM);
            continue;
        }
        ASSERT_NE(job->thread, nullptr);
        EXPECT_EQ(std::string(job->fileName), c.expected);
        EXPECT_EQ(ReadFile(c.expected), "");  // the file it runs on is its own, empty
        // No empty reservation is left behind in the folder it was added in.
        if (c.folder != nullptr) {
            EXPECT_FALSE(fs::exists(first + "/" + c.name));
        }
    }
}

TEST_F(OwnFileTest, DeletedJobRemovesOnlyItsOwnEmptyReservation) {
    struct Case {
        const char* what;
        const char* written;  // written into the file before the delete
        bool replaced;        // another file put at the name
        bool deleted;         // the user deleted it (not the shutdown)
        bool removed;
    };
    const Case cases[] = {
        {"never written", "", false, true, true},
        {"holds bytes", "abc", false, true, false},
        {"another file there", "", true, true, false},
        {"shutdown", "", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EnterFolder(std::string("del-") + c.what, {});
        DownloadJob* job = Add("g.bin");
        ASSERT_NE(job, nullptr);
        if (c.replaced) {
            ReplaceFile("g.bin", c.written);
        } else {
            WriteFile("g.bin", c.written);
        }
        job->deleteMark = c.deleted ? 1 : 0;
        RemoveJob(job);
        EXPECT_EQ(fs::exists("g.bin"), !c.removed);
    }
}

TEST_F(OwnFileTest, ManyUrlsAreQueuedWithOneSave) {
    const unsigned long long saves = JobListSaveCount();
    const std::string longest = "http://h/" + std::string(kLongestUrl - 16, 'u') + "/seg.ts";
    ASSERT_EQ(longest.size(), kLongestUrl);
    const std::vector<NewFileOutcome> outcomes =
        AddUrlsAsNewFiles({"http://h/a.bin", "short", "http://h/a.bin", longest + "u", longest});
    EXPECT_EQ(outcomes, (std::vector<NewFileOutcome>{kJobAdded, kUrlTooShort, kJobAdded,
                                                     kUrlTooLong, kJobAdded}));
    EXPECT_EQ(JobListSaveCount(), saves + 1);
    EXPECT_EQ(modeltest::JobFields(), (modeltest::Fields{{"http://h/a.bin", "a.bin"},
                                                         {"http://h/a.bin", "a (1).bin"},
                                                         {longest, "seg.ts"}}));
}

}  // namespace
