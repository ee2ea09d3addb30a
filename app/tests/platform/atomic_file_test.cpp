#include "atomic_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <ios>
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
    EXPECT_EQ(ModeOf(path), 0600u);

    ASSERT_TRUE(WriteFileAtomically(path, "second"));
    EXPECT_EQ(ReadFile(path), "second");
    ASSERT_TRUE(WriteFileAtomically(path, ""));
    EXPECT_EQ(ReadFile(path), "");
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"state.dat"});
}

// A list of URLs can hold tokens: the file is the user's alone, whatever the
// umask and whatever an older file allowed.
TEST(WriteFileAtomically, LeavesTheFileReadableByTheUserOnly) {
    TempDir dir;
    const std::string path = dir.File("filelist.dat");
    const mode_t oldMask = umask(0);
    for (const mode_t before : {0u, 0644u, 0666u}) {
        if (before != 0) {
            WriteFile(path, "old");
            ASSERT_EQ(chmod(path.c_str(), before), 0);
        }
        ASSERT_TRUE(WriteFileAtomically(path, "new"));
        EXPECT_EQ(ModeOf(path), 0600u) << std::oct << before;
    }
    umask(oldMask);
}

// A link planted in the state folder must not lead a save into another file.
TEST(WriteFileAtomically, ReplacesASymbolicLinkNeverItsTarget) {
    TempDir dir;
    const std::string target = dir.File("victim");
    WriteFile(target, "precious");
    std::filesystem::create_symlink(target, dir.File("list.dat"));
    std::filesystem::create_symlink(dir.File("nowhere"), dir.File("dangling.dat"));
    ASSERT_TRUE(WriteFileAtomically(dir.File("list.dat"), "new"));
    ASSERT_TRUE(WriteFileAtomically(dir.File("dangling.dat"), "new"));
    EXPECT_EQ(ReadFile(target), "precious");
    for (const char* name : {"list.dat", "dangling.dat"}) {
        EXPECT_FALSE(std::filesystem::is_symlink(dir.File(name))) << name;
        EXPECT_EQ(ReadFile(dir.File(name)), "new") << name;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("nowhere")));
}

TEST(OpenStateFileForReading, OpensOnlyARegularFileOfItsOwnName) {
    TempDir dir;
    WriteFile(dir.File("file"), "x");
    std::filesystem::create_symlink(dir.File("file"), dir.File("link"));
    std::filesystem::create_directory(dir.File("folder"));
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    const struct {
        const char* name;
        int error;  // 0: opened
    } cases[] = {
        {"file", 0}, {"missing", ENOENT}, {"link", ELOOP}, {"folder", EINVAL}, {"fifo", EINVAL}};
    for (const auto& c : cases) {
        errno = 0;
        const int fd = OpenStateFileForReading(dir.File(c.name));
        const int error = fd >= 0 ? 0 : errno;
        EXPECT_EQ(error, c.error) << c.name;
        if (fd >= 0) close(fd);
    }
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
