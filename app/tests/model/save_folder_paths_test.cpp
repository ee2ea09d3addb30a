// Where a download lands when its file name tries to leave the save folder.
//
// A hand-edited list file may name any path: it is read unchanged and the fetch
// opens it as written, relative to the current folder (the save folder) or
// absolute. Names typed into New File cannot hold a '/' (it is cleaned to '-'), so
// they stay in the save folder; ".." alone is a folder and cannot be opened as a
// file. The save folder is nested two levels deep in a temporary tree, so even
// "../.." stays inside the tree; the tests list every file of the tree afterwards.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "concat.h"
#include "file_name_chars.h"
#include "job_queue.h"
#include "model_fixture.h"
#include "test_server.h"

namespace {

constexpr std::uint64_t kSize = 3000;  // a dozen blocks

class SaveFolderPathsTest : public modeltest::ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        root_ = dir_.Path();
        save_ = root_ + "/outer/save";
        std::filesystem::create_directories(save_ + "/sub");
        startFolder_ = std::filesystem::current_path();
        ASSERT_EQ(::chdir(save_.c_str()), 0);
        server_.Set("/f", vtest::Route{.size = kSize});
        // Every job runs at once, and once: a file problem is final here.
        maxFiles = 20;
        maxTries = 0;
    }
    void TearDown() override {
        ModelTest::TearDown();
        std::filesystem::current_path(startFolder_);
    }

    // Starts every job and collects every run, as the main loop would.
    static void RunAll() {
        StartJobs();
        for (DownloadJob* job : modeltest::Jobs()) {
            if (job->thread == nullptr) continue;
            // Generous: a hang detector, not a timing.
            ASSERT_EQ(VWait(job->thread, 20000), VWAIT_SIGNALLED) << job->fileName;
            job->CloseHandles();
        }
    }

    // Every regular file of the temporary tree, relative to its root.
    std::set<std::string> FilesInTree() const {
        std::set<std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root_)) {
            if (entry.is_regular_file()) {
                files.insert(std::filesystem::relative(entry.path(), root_).string());
            }
        }
        return files;
    }

    bool HoldsTheBody(const std::string& path) const {
        return modeltest::ReadFile(root_ + "/" + path) == vtest::Body(0, kSize);
    }

    vtest::TestServer server_;
    std::string root_;
    std::string save_;
    std::filesystem::path startFolder_;
};

struct Landing {
    std::string name;            // as the list file or the dialog gives it
    unsigned long result;        // of its one run
    std::string whereInTheTree;  // "" when no file is made
};

TEST_F(SaveFolderPathsTest, HandEditedListFileNamesAreUsedAsWritten) {
    const std::vector<Landing> cases = {
        {"plain.bin", RESULT_OK, "outer/save/plain.bin"},
        {"../up.bin", RESULT_OK, "outer/up.bin"},
        {"../../top.bin", RESULT_OK, "top.bin"},
        {"sub/../../across.bin", RESULT_OK, "outer/across.bin"},
        {root_ + "/abs.bin", RESULT_OK, "abs.bin"},
        // The path walks through a folder that does not exist: nothing is made.
        {"missing/../../gone.bin", RESULT_FILE_PROBLEM, ""},
        {"..", RESULT_FILE_PROBLEM, ""},
        {"", RESULT_FILE_PROBLEM, ""},
    };
    std::string list;
    modeltest::Fields written;
    for (const Landing& c : cases) {
        list += vtest::Concat("\"", server_.Url("/f"), "\" \"", c.name, "\"\r\n");
        written.emplace_back(server_.Url("/f"), c.name);
    }
    // The reader takes every record unchanged, whatever its path says.
    ASSERT_EQ(LoadBytes(list), written);

    RunAll();

    std::set<std::string> expectedFiles = {"filelist.dat"};
    const std::vector<DownloadJob*> jobs = modeltest::Jobs();
    ASSERT_EQ(jobs.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(jobs[i]->result.load(), cases[i].result);
        if (!cases[i].whereInTheTree.empty()) {
            EXPECT_TRUE(HoldsTheBody(cases[i].whereInTheTree));
            expectedFiles.insert(cases[i].whereInTheTree);
        }
    }
    EXPECT_EQ(FilesInTree(), expectedFiles);
}

TEST_F(SaveFolderPathsTest, NamesFromTheNewFileDialogStayInTheSaveFolder) {
    const std::vector<Landing> cases = {
        {"../x", RESULT_OK, "outer/save/..-x"},
        {"../../y", RESULT_OK, "outer/save/..-..-y"},
        {"/abs/path", RESULT_OK, "outer/save/-abs-path"},
        {"a/../../b", RESULT_OK, "outer/save/a-..-..-b"},
        // A backslash is an ordinary character of a name here, not a separator.
        {"..\\..\\z", RESULT_OK, "outer/save/..\\..\\z"},
        {"..", RESULT_FILE_PROBLEM, ""},
        {".", RESULT_FILE_PROBLEM, ""},
    };
    for (const Landing& c : cases) {
        modeltest::AddJob(server_.Url("/f"), CleanFileName(c.name));
    }

    RunAll();

    std::set<std::string> expectedFiles;
    const std::vector<DownloadJob*> jobs = modeltest::Jobs();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(jobs[i]->result.load(), cases[i].result);
        if (!cases[i].whereInTheTree.empty()) {
            EXPECT_TRUE(HoldsTheBody(cases[i].whereInTheTree));
            expectedFiles.insert(cases[i].whereInTheTree);
        }
    }
    EXPECT_EQ(FilesInTree(), expectedFiles);
}

}  // namespace
