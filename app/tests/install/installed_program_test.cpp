// The program as a distribution installs it: `cmake --install` into a scratch
// DESTDIR under the prefix /usr, the installed files, and the installed program
// started from a read-only copy of that tree with a scratch home. Its folder is
// then no place for the state (it may not create files there; under the real /usr
// it never would, for root neither): it must keep its state, readable by the user
// only, in $XDG_CONFIG_HOME/vantorel/ and still download.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "temp_dir.h"
#include "test_server.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Runs a shell command line; its exit status and everything it printed.
int Shell(const std::string& command, std::string* output) {
    output->clear();
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return -1;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, got);
    return ::pclose(pipe);
}

class InstalledProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(temp_.Path().empty());
        std::string output;
        const std::string install = "DESTDIR='" + dest_ +
                                    "' '" VANTOREL_CMAKE "' --install '" VANTOREL_BUILD_DIR
                                    "' --prefix /usr";
        ASSERT_EQ(Shell(install, &output), 0) << output;
    }

    // Starts `program` with only the given environment, in the test's folder. As
    // root, which may write anywhere whatever the modes, the program sees the
    // folder `readOnly` through a read-only mount of its own (the child exits 126
    // when that is refused here); for anyone else the folder's modes do it.
    pid_t Start(const std::string& program, std::vector<std::string> environment,
                const std::string& readOnly) {
        std::vector<char*> envp;
        for (std::string& entry : environment) envp.push_back(entry.data());
        envp.push_back(nullptr);
        std::string path = program;
        char* argv[] = {path.data(), nullptr};
        const std::string start = temp_.Path();
        const bool root = ::geteuid() == 0;
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (root && (::unshare(CLONE_NEWNS) != 0 ||
                         ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                         ::mount(readOnly.c_str(), readOnly.c_str(), nullptr, MS_BIND | MS_REC,
                                 nullptr) != 0 ||
                         ::mount(nullptr, readOnly.c_str(), nullptr,
                                 MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)) {
                ::_exit(126);
            }
            if (::chdir(start.c_str()) != 0) ::_exit(127);
            ::execve(path.c_str(), argv, envp.data());
            ::_exit(127);
        }
        return pid;
    }

    void TearDown() override {
        // The read-only copy must be writable again to be removed.
        std::error_code ignored;
        for (auto it = fs::recursive_directory_iterator(temp_ / "ro", ignored);
             it != fs::recursive_directory_iterator(); it.increment(ignored)) {
            fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
        }
    }

    // True once `pid` has ended; it is left to WaitForExit to collect.
    static bool Ended(pid_t pid) {
        siginfo_t info{};
        return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == pid;
    }

    // True once `pid` catches SIGTERM, i.e. its event loop is there to handle it.
    static bool Listening(pid_t pid) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("SigCgt:", 0) == 0) {
                return (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1) & 1) != 0;
            }
        }
        return false;
    }

    // The exit code, -signal when killed, or -1000 after `limit` (then killed).
    static int WaitForExit(pid_t pid, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) != pid) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                return -1000;
            }
            std::this_thread::sleep_for(10ms);
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }

    template <typename Condition>
    static bool WaitFor(Condition condition, std::chrono::seconds limit = 30s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }

    vtest::TempDir temp_;
    const std::string dest_ = temp_ / "dest";
};

TEST_F(InstalledProgramTest, InstallsTheFreedesktopLayoutAndNoBuildPaths) {
    const std::string lib = VANTOREL_LIBDIR;
    const std::string cmake = lib + "/cmake/Brindlex/";
    const std::set<std::string> expected = {
        "usr/bin/vantorel",
        "usr/include/brindlex/vbrindlex.h",
        "usr/include/brindlex/vhandle.h",
        "usr/" + lib + "/libBrindlex.so",
        "usr/" + lib + "/libBrindlex.so.1",
        "usr/" + lib + "/libBrindlex.so.1.0",
        "usr/" + cmake + "BrindlexConfig.cmake",
        "usr/" + cmake + "BrindlexConfigVersion.cmake",
        "usr/" + cmake + "BrindlexTargets.cmake",
        "usr/" + cmake + "BrindlexTargets-" VANTOREL_CONFIG ".cmake",
        "usr/share/applications/vantorel.desktop",
        "usr/share/icons/hicolor/64x64/apps/vantorel.png",
        "usr/share/metainfo/org.example.Vantorel.metainfo.xml",
        // For the browser: the host, its manifests where each browser looks (never
        // under the prefix), the extension unpacked and packed.
        "usr/bin/vantorel-browser-host",
        "etc/chromium/native-messaging-hosts/org.example.vantorel.json",
        "etc/opt/chrome/native-messaging-hosts/org.example.vantorel.json",
        "usr/lib/mozilla/native-messaging-hosts/org.example.vantorel.json",
        "usr/share/vantorel/browser-extension/background.js",
        "usr/share/vantorel/browser-extension/manifest.json",
        "usr/share/vantorel/browser-extension/popup.html",
        "usr/share/vantorel/browser-extension/popup.js",
        "usr/share/vantorel/vantorel-firefox.xpi",
    };
    std::set<std::string> installed;
    for (const auto& entry : fs::recursive_directory_iterator(dest_)) {
        if (!entry.is_directory() || entry.is_symlink()) {
            installed.insert(entry.path().lexically_relative(dest_).string());
        }
    }
    EXPECT_EQ(installed, expected);
    for (const char* manifest :
         {"etc/chromium/native-messaging-hosts/org.example.vantorel.json",
          "usr/lib/mozilla/native-messaging-hosts/org.example.vantorel.json"}) {
        EXPECT_NE(vtest::ReadWholeFile(dest_ + "/" + manifest)
                      .find("\"path\": \"/usr/bin/vantorel-browser-host\""),
                  std::string::npos)
            << manifest;
    }
    // The soname links, as the loader and the linker look for them.
    EXPECT_EQ(fs::read_symlink(dest_ + "/usr/" + lib + "/libBrindlex.so"), "libBrindlex.so.1");
    EXPECT_EQ(fs::read_symlink(dest_ + "/usr/" + lib + "/libBrindlex.so.1"), "libBrindlex.so.1.0");

    std::string dynamic;
    ASSERT_EQ(Shell("readelf -d '" + dest_ + "/usr/bin/vantorel'", &dynamic), 0) << dynamic;
    EXPECT_NE(dynamic.find("[libBrindlex.so.1]"), std::string::npos) << dynamic;
    EXPECT_EQ(dynamic.find(VANTOREL_BUILD_DIR), std::string::npos) << dynamic;
    EXPECT_NE(dynamic.find("[$ORIGIN/../" + lib + "]"), std::string::npos) << dynamic;
}

TEST_F(InstalledProgramTest, AnotherProgramBuildsOnTheInstalledPackageConfig) {
    const std::string project = temp_ / "user";
    fs::create_directory(project);
    std::ofstream(project + "/CMakeLists.txt")
        << "cmake_minimum_required(VERSION 3.25)\n"
           "project(user CXX)\n"
           "find_package(Brindlex 1.0 REQUIRED)\n"
           "add_executable(user user.cpp)\n"
           "target_link_libraries(user Brindlex::Brindlex)\n";
    std::ofstream(project + "/user.cpp")
        << "#include <brindlex/vbrindlex.h>\n"
           "int main() {\n"
           "    VBRINDLEX transfer;\n"
           "    return transfer.SetURL(\"http://127.0.0.1/\") == 1 ? 0 : 1;\n"
           "}\n";
    std::string output;
    ASSERT_EQ(Shell("'" VANTOREL_CMAKE "' -S '" + project + "' -B '" + project +
                        "/b' -G Ninja -DCMAKE_PREFIX_PATH='" + dest_ +
                        "/usr' && '" VANTOREL_CMAKE "' --build '" + project + "/b' && '" + project +
                        "/b/user'",
                    &output),
              0)
        << output;
}

TEST_F(InstalledProgramTest, ReadOnlyCopyKeepsItsStateInTheUserFolderAndDownloads) {
    vtest::TestServer server;
    server.Set("/data.bin", vtest::Route{.size = 20000});

    // The copy's folders are read-only for a user; for root, Start mounts it so.
    const std::string copy = temp_ / "ro";
    fs::copy(dest_, copy, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    const std::string program = copy + "/usr/bin/vantorel";
    const bool root = ::geteuid() == 0;
    if (!root) {
        for (const auto& entry : fs::recursive_directory_iterator(copy)) {
            if (entry.is_directory() && !entry.is_symlink()) {
                fs::permissions(
                    entry.path(),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
            }
        }
    }
    for (const char* sub : {"home", "runtime", "downloads"}) fs::create_directory(temp_ / sub);
    fs::permissions(temp_ / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    const std::string configHome = temp_ / "home/conf";  // not there yet
    const std::string state = configHome + "/vantorel/";
    const std::vector<std::string> environment = {
        "HOME=" + temp_ / "home",
        "XDG_CONFIG_HOME=" + configHome,
        "XDG_RUNTIME_DIR=" + temp_ / "runtime",
        "QT_QPA_PLATFORM=offscreen",
        "PATH=/usr/bin:/bin",
    };

    // First start: the state folder is made, and the settings land there at exit.
    pid_t first = Start(program, environment, copy);
    ASSERT_TRUE(WaitFor([&] { return Listening(first) || Ended(first); }));
    if (root && Ended(first) && WaitForExit(first, 1s) == 126) {
        GTEST_SKIP() << "no read-only mount for root here";
    }
    ::kill(first, SIGTERM);
    ASSERT_EQ(WaitForExit(first, 30s), 0);
    EXPECT_TRUE(fs::is_regular_file(state + "vantorel.ini"));
    EXPECT_EQ(fs::status(state).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(fs::status(state + "vantorel.ini").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    // Second start, with a queued download: it runs, the queue file empties.
    std::ofstream(state + "filelist.dat") << "\"" << server.Url("/data.bin") << "\" \"data.bin\"\n";
    std::ofstream(state + "vantorel.ini") << "[Vantorel]\nDefPath=" << temp_ / "downloads"
                                          << "\n";
    const std::string file = temp_ / "downloads/data.bin";
    pid_t second = Start(program, environment, copy);
    EXPECT_TRUE(WaitFor([&] {
        return vtest::ReadWholeFile(file) == vtest::Body(0, 20000) &&
               vtest::ReadWholeFile(state + "filelist.dat").empty();
    })) << "downloaded "
        << vtest::ReadWholeFile(file).size() << " bytes";
    // The lock went with the state: a second instance ends at once.
    EXPECT_EQ(WaitForExit(Start(program, environment, copy), 30s), 0);
    ASSERT_TRUE(WaitFor([&] { return Listening(second); }));
    ::kill(second, SIGTERM);
    EXPECT_EQ(WaitForExit(second, 30s), 0);

    // Nothing was written beside the program and its browser host (as root only
    // the mount kept it out).
    EXPECT_EQ(std::distance(fs::directory_iterator(copy + "/usr/bin"), fs::directory_iterator()),
              2);
    EXPECT_NE(vtest::ReadWholeFile(state + "vantorel.ini").find("DefPath=" + temp_ / "downloads"),
              std::string::npos);
}

}  // namespace
