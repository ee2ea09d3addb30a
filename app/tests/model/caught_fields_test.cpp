// The fields of downloads caught from a browser: kept beside the list file, the
// user's alone, back after a restart, gone with their job.
#include "caught_fields.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "job_control.h"
#include "list_save.h"
#include "model_fixture.h"

namespace {

using modeltest::AddJob;
using modeltest::Jobs;
using modeltest::ReadFile;

// New names are made free against the current folder: the test's own, so that no
// file of an earlier run numbers them.
class CaughtFieldsTest : public modeltest::ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        start_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.Path());
    }
    void TearDown() override {
        ModelTest::TearDown();
        std::filesystem::current_path(start_);
    }
    std::filesystem::path start_;
};

const CaughtFields kFields{
    "http://h/page", "Browser/1.0", {"h\tFALSE\t/\tFALSE\t0\ts\t1", "h\tTRUE\t/\tTRUE\t0\tt\t2"}};

TEST_F(CaughtFieldsTest, KeptPrivatelyAcrossARestartAndGoneWithTheirJob) {
    maxFiles = 0;  // nothing runs
    ASSERT_EQ(AddCaughtDownload("http://h/get?id=1", "re\"port.pdf", kFields), kJobAdded);
    DownloadJob* caught = Jobs().back();
    EXPECT_STREQ(caught->fileName, "re-port.pdf");  // cleaned like a typed name
    EXPECT_STREQ(caught->agent, "Browser/1.0");
    EXPECT_STREQ(caught->referer, "http://h/page");
    EXPECT_EQ(caught->refererIsPage, 1);
    EXPECT_STREQ(caught->cookies, "h\tFALSE\t/\tFALSE\t0\ts\t1\nh\tTRUE\t/\tTRUE\t0\tt\t2");
    AddJob("http://h/plain", "plain.bin");
    SaveJobList();

    // A symbolic link where the file goes is replaced, never followed.
    const std::string elsewhere = listPath + ".elsewhere";
    modeltest::WriteFile(elsewhere, "");
    const std::string path = CaughtFieldsPath();
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // After a restart: the fields find their job by URL and name; the job added
    // by hand sends its own URL as the Referer, as before.
    modeltest::DestroyAllJobs();
    LoadJobList();
    LoadCaughtFields();
    ASSERT_EQ(Jobs().size(), 2u);
    ASSERT_NE(CaughtFieldsOf(Jobs()[0]), nullptr);
    EXPECT_EQ(CaughtFieldsOf(Jobs()[0])->cookies, kFields.cookies);
    EXPECT_STREQ(Jobs()[0]->agent, "Browser/1.0");
    EXPECT_EQ(Jobs()[0]->refererIsPage, 1);
    EXPECT_EQ(CaughtFieldsOf(Jobs()[1]), nullptr);
    EXPECT_EQ(Jobs()[1]->refererIsPage, 0);
    EXPECT_EQ(Jobs()[1]->cookies, nullptr);

    // Done: its entry leaves the file with the next save; deleted likewise.
    Jobs()[0]->status = STATUS_DONE;
    SaveJobList();
    EXPECT_EQ(ReadFile(path), "");
    Jobs()[0]->status = STATUS_WAIT;
    SaveJobList();
    EXPECT_NE(ReadFile(path).find("cookie=h\tTRUE"), std::string::npos);
    RemoveJob(Jobs()[0]);
    SaveJobList();
    EXPECT_EQ(ReadFile(path), "");

    ::unlink(path.c_str());
    ASSERT_EQ(::symlink(elsewhere.c_str(), path.c_str()), 0);
    ASSERT_EQ(AddCaughtDownload("http://h/again", "", kFields), kJobAdded);
    EXPECT_STREQ(Jobs().back()->fileName, "again");
    EXPECT_EQ(ReadFile(elsewhere), "");
    ASSERT_EQ(::lstat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

}  // namespace
