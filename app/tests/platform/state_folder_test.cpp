// Which folder holds the state: beside the program, or the per-user folder.
#include "state_folder.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "../settings/temp_folder.h"

namespace {

void SetOrUnset(const char* name, const char* value) {
    if (value == nullptr) {
        ::unsetenv(name);
    } else {
        ::setenv(name, value, 1);
    }
}

TEST(StateFolderTest, UserFolderFollowsXdgConfigHomeThenHome) {
    const passwd* account = ::getpwuid(::getuid());
    ASSERT_NE(account, nullptr);
    const std::string accountHome = account->pw_dir;
    struct Case {
        const char* configHome;
        const char* home;
        std::string folder;
    };
    const Case cases[] = {
        {"/x/conf", "/h", "/x/conf/vantorel/"},
        {"/x/conf//", "/h", "/x/conf/vantorel/"},
        {"", "/h", "/h/.config/vantorel/"},
        // XDG: a relative path in the variable is to be ignored.
        {"rel/conf", "/h/", "/h/.config/vantorel/"},
        {nullptr, "/h", "/h/.config/vantorel/"},
        {nullptr, "relative", accountHome + "/.config/vantorel/"},
        {nullptr, nullptr, accountHome + "/.config/vantorel/"},
    };
    for (const Case& c : cases) {
        SetOrUnset("XDG_CONFIG_HOME", c.configHome);
        SetOrUnset("HOME", c.home);
        EXPECT_EQ(UserStateFolder(), c.folder)
            << (c.configHome ? c.configHome : "<unset>") << " " << (c.home ? c.home : "<unset>");
    }
}

TEST(StateFolderTest, ProgramFolderOnlyWhenOursAloneElseTheUserFolderMadeOnce) {
    TempFolder temp;
    const uid_t me = ::geteuid();
    const uid_t other = me + 1;
    // Modes set after making, whatever the umask.
    const auto folder = [&temp](const char* name, mode_t mode) {
        const std::string path = temp / name;
        ::mkdir(path.c_str(), 0700);
        ::chmod(path.c_str(), mode);
        return path + "/";
    };
    const std::string program = folder("prog", 0755);
    const std::string groupWritable = folder("shared", 0775);
    const std::string worldWritable = folder("public", 0757);
    WriteBytes(temp / "file", "x");
    // A program folder that does not exist stands for one that cannot be written:
    // root may write into any folder of a writable mount, whatever its mode.
    const std::string absent = temp / "gone/";
    struct Case {
        std::string programFolder;
        uid_t user;
        std::string userFolder;
        std::string chosen;
        bool madeUserFolder;
    };
    const Case cases[] = {
        {program, me, temp / "a/vantorel/", program, false},
        {program, other, temp / "b/vantorel/", temp / "b/vantorel/", true},
        {groupWritable, me, temp / "c/vantorel/", temp / "c/vantorel/", true},
        {worldWritable, me, temp / "d/vantorel/", temp / "d/vantorel/", true},
        // Root may write here, and must not fill it with a user's files.
        {"/usr/bin/", me, temp / "e/vantorel/", temp / "e/vantorel/", true},
        {absent, me, temp / "f/g/vantorel/", temp / "f/g/vantorel/", true},
        {absent, me, temp / "f/g/vantorel/", temp / "f/g/vantorel/", true},  // now already there
        // No user folder: the program folder only when it is ours alone.
        {program, me, temp / "file/vantorel/", program, false},
        {worldWritable, me, temp / "file/vantorel/", "", false},
        {absent, me, "", "", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChooseStateFolder(c.programFolder, c.userFolder, c.user), c.chosen)
            << c.programFolder << " " << c.userFolder;
        struct stat info {};
        const bool made = !c.userFolder.empty() && ::stat(c.userFolder.c_str(), &info) == 0;
        EXPECT_EQ(made, c.madeUserFolder) << c.userFolder;
        if (made) {
            EXPECT_TRUE(S_ISDIR(info.st_mode));
            EXPECT_EQ(info.st_mode & 07777, 0700u) << c.userFolder;
        }
    }
    struct stat parent {};
    ASSERT_EQ(::stat((temp / "f").c_str(), &parent), 0);
    EXPECT_EQ(parent.st_mode & 07777, 0700u);
}

}  // namespace
