// The hand-off socket's folder and peer: the user's alone. Another user is
// reached by asking for a user id that is not ours.
#include "user_only.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "../settings/temp_folder.h"

namespace {

TEST(UserOnlyTest, SocketFolderIsAPrivateFolderOfTheUsersOwn) {
    TempFolder temp;
    const uid_t me = ::geteuid();
    const auto folder = [&temp](const std::string& name, mode_t mode) {
        const std::string path = temp / name;
        ::mkdir(path.c_str(), 0700);
        ::chmod(path.c_str(), mode);
        return path;
    };
    const std::string runtime = folder("run", 0700);
    const std::string open = folder("open", 0755);
    const std::string runtimeSlash = runtime + "/";
    const std::string link = temp / "link";
    ::symlink(runtime.c_str(), link.c_str());
    const std::string tmp = folder("tmp", 0777);
    const std::string fallback = tmp + "/vantorel-" + std::to_string(me);
    const std::string longRuntime = folder(std::string(100, 'r'), 0700);
    const std::string shared = folder("shared", 01777);
    folder("shared/vantorel-" + std::to_string(me), 0755);  // made by someone, wrong mode
    struct Case {
        const char* runtimeDir;
        std::string tempRoot;
        uid_t user;
        std::string chosen;
    };
    const Case cases[] = {
        {runtime.c_str(), tmp, me, runtime},
        {runtimeSlash.c_str(), tmp, me, runtime},
        {nullptr, tmp, me, fallback},
        {"relative", tmp, me, fallback},
        {open.c_str(), tmp, me, fallback},
        {link.c_str(), tmp, me, fallback},
        // The runtime folder and the fallback folder made above are another's.
        {runtime.c_str(), tmp, me + 1, ""},
        // The socket's path would not fit.
        {longRuntime.c_str(), tmp, me, fallback},
        {nullptr, shared, me, ""},
        {nullptr, temp / "missing", me, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PrivateSocketFolder(c.runtimeDir, c.tempRoot, c.user, 30), c.chosen)
            << (c.runtimeDir ? c.runtimeDir : "<unset>") << " " << c.tempRoot;
    }
    struct stat info {};
    ASSERT_EQ(::lstat(fallback.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
}

TEST(UserOnlyTest, PeerIsCheckedByItsUserId) {
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    EXPECT_TRUE(PeerIsUser(ends[0], ::geteuid()));
    EXPECT_FALSE(PeerIsUser(ends[0], ::geteuid() + 1));
    EXPECT_FALSE(PeerIsUser(-1, ::geteuid()));
    ::close(ends[0]);
    ::close(ends[1]);
}

}  // namespace
