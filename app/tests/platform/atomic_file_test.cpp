#include "atomic_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "../model/model_fixture.h"

namespace {

using modeltest::ReadFile;
using modeltest::TempDir;
using modeltest::WriteFile;

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename());
    }
    return names;
}

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

TEST(WriteFileAtomically, CreatesAndReplacesLeavingNothingElse) {
    TempDir dir;
    const std::string path = dir.File("state.dat");
    const mode_t oldMask = umask(022);
    ASSERT_TRUE(WriteFileAtomically(path, std::string("first\0bytes", 11)));
    umask(oldMask);
    EXPECT_EQ(ReadFile(path), std::string("first\0bytes", 11));
    EXPECT_EQ(ModeOf(path), 0644u);

    ASSERT_TRUE(WriteFileAtomically(path, "second"));
    EXPECT_EQ(ReadFile(path), "second");
    ASSERT_TRUE(WriteFileAtomically(path, ""));
    EXPECT_EQ(ReadFile(path), "");
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"state.dat"});
}

TEST(WriteFileAtomically, KeepsTheModeOfTheFileItReplaces) {
    TempDir dir;
    const std::string path = dir.File("private.ini");
    WriteFile(path, "old");
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    ASSERT_TRUE(WriteFileAtomically(path, "new"));
    EXPECT_EQ(ModeOf(path), 0600u);
}

TEST(WriteFileAtomically, ReplacesTheTargetOfASymbolicLink) {
    TempDir dir;
    std::filesystem::create_directory(dir.File("real"));
    const std::string target = dir.File("real/list.dat");
    WriteFile(target, "old");
    std::filesystem::create_symlink(target, dir.File("link.dat"));
    ASSERT_TRUE(WriteFileAtomically(dir.File("link.dat"), "new"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.dat")));
    EXPECT_EQ(ReadFile(target), "new");
    EXPECT_EQ(Entries(dir.File("real")), std::vector<std::string>{"list.dat"});
}

TEST(WriteFileAtomically, FailsWithoutTouchingAnything) {
    TempDir dir;
    EXPECT_FALSE(WriteFileAtomically("", "x"));
    EXPECT_FALSE(WriteFileAtomically(dir.File("missing/state.dat"), "x"));
    // A folder in the way: the rename fails, the folder stays, no temporary file.
    std::filesystem::create_directory(dir.File("busy"));
    WriteFile(dir.File("busy/inside"), "kept");
    EXPECT_FALSE(WriteFileAtomically(dir.File("busy"), "x"));
    EXPECT_EQ(ReadFile(dir.File("busy/inside")), "kept");
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"busy"});
}

// A full disk, made to bite even for root: a file size limit, with the signal it
// raises ignored so that the write fails with EFBIG instead. Run in a child so
// the limit never reaches the test process.
TEST(WriteFileAtomically, FullDiskKeepsTheOldFile) {
    TempDir dir;
    const std::string path = dir.File("filelist.dat");
    WriteFile(path, "\"old\" \"content\"\n");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        const bool written = WriteFileAtomically(path, std::string(100000, 'x'));
        _exit(written ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write reported success";
    EXPECT_EQ(ReadFile(path), "\"old\" \"content\"\n");
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"filelist.dat"});
}

TEST(RemoveStaleTemporaries, RemovesOnlyTheLeftoversOfThatFile) {
    TempDir dir;
    const std::string path = dir.File("filelist.dat");
    WriteFile(path, "kept");
    WriteFile(path + ".tmp-123-0", "left by a kill");
    WriteFile(path + ".tmp-456-7", "");
    WriteFile(dir.File("vantorel.ini.tmp-1-1"), "another file's");
    WriteFile(dir.File("filelist.dat.bak"), "not ours");
    RemoveStaleTemporaries(path);
    std::vector<std::string> left = Entries(dir.Path());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"filelist.dat", "filelist.dat.bak",
                                              "vantorel.ini.tmp-1-1"}));
    EXPECT_EQ(ReadFile(path), "kept");
}

}  // namespace
