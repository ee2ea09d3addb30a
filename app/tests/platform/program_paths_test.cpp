// The program folder and the two paths derived from it.
#include "program_paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "app_settings.h"
#include "list_file.h"
#include "state_paths.h"

namespace {

TEST(ProgramPathsTest, FolderIsEverythingUpToTheLastSlash) {
    struct Case {
        const char* path;
        const char* folder;
    };
    const Case cases[] = {
        {"/opt/vantorel/vantorel", "/opt/vantorel/"},
        {"/vantorel", "/"},
        {"vantorel", ""},
        {"", ""},
        {"/a b/c.d/prog (deleted)", "/a b/c.d/"},
        {"/dir/", "/dir/"},
    };
    for (const Case& c : cases) EXPECT_EQ(FolderOf(c.path), c.folder) << c.path;
}

TEST(ProgramPathsTest, PathsAreBesideTheRunningProgram) {
    std::optional<std::string> program = RunningProgramPath();
    ASSERT_TRUE(program.has_value());
    // The path names this very program, not a cut-short or stale one.
    struct stat named {
    }, running{};
    ASSERT_EQ(::stat(program->c_str(), &named), 0) << *program;
    ASSERT_EQ(::stat("/proc/self/exe", &running), 0);
    EXPECT_EQ(named.st_ino, running.st_ino);
    EXPECT_EQ(named.st_dev, running.st_dev);

    // The build folder can be written, so the state stays beside the program.
    listPath.clear();
    iniPath.clear();
    ASSERT_TRUE(FindProgramPaths());
    std::string folder = FolderOf(*program);
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(listPath, folder + "filelist.dat");
    EXPECT_EQ(iniPath, folder + "vantorel.ini");
}

}  // namespace
