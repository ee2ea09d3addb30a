#include "program_runner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace vtest {

namespace fs = std::filesystem;

ProgramFolder::ProgramFolder(const std::string& root, bool withDesktop) : root_(root) {
    for (const char* sub : {"prog", "home", "start", "config", "data", "cache", "runtime"}) {
        fs::create_directories(root_ + "/" + sub);
    }
    fs::permissions(root_ + "/runtime", fs::perms::owner_all, fs::perm_options::replace);
    // The program keeps its state beside itself only in a folder nobody else may
    // write, whatever the umask made of it.
    fs::permissions(programDir(),
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::replace);
    if (withDesktop) fs::create_directories(desktop());
    // A copy, not a link: the program folder is where /proc/self/exe points.
    fs::copy_file(VANTOREL_PROGRAM, programDir() + "/vantorel");
}

ProgramRun::ProgramRun(const ProgramFolder& folder, const std::vector<std::string>& args,
                       const std::vector<std::string>& extraEnvironment) {
    static int runs = 0;
    outputPath_ = folder.programDir() + "/../output" + std::to_string(++runs) + ".txt";
    const std::string root = folder.programDir() + "/..";
    // A complete environment of our own: the real HOME and any proxy stay out.
    std::vector<std::string> environment = {
        "HOME=" + root + "/home",
        "XDG_CONFIG_HOME=" + root + "/config",
        "XDG_DATA_HOME=" + root + "/data",
        "XDG_CACHE_HOME=" + root + "/cache",
        "XDG_RUNTIME_DIR=" + root + "/runtime",
        // A bus that is not there: notifications must come to nothing, at once.
        "DBUS_SESSION_BUS_ADDRESS=unix:path=" + root + "/runtime/no-bus",
        "QT_QPA_PLATFORM=offscreen",
        "PATH=/usr/bin:/bin",
    };
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string program = folder.programDir() + "/vantorel";
    std::vector<std::string> words = args;
    std::vector<char*> argv = {program.data()};
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::string start = folder.startDir();

    pid_ = ::fork();
    if (pid_ == 0) {
        // Child: only async-signal-safe calls until exec.
        const int out = ::open(outputPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        if (::chdir(start.c_str()) != 0) ::_exit(127);
        // An ignored signal stays ignored across exec: start from the defaults.
        ::signal(SIGPIPE, SIG_DFL);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
}

ProgramRun::~ProgramRun() {
    if (pid_ > 0 && !Exited()) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status_, 0);
    }
}

bool ProgramRun::Exited() {
    if (ended_) return true;
    if (::waitpid(pid_, &status_, WNOHANG) == pid_) ended_ = true;
    return ended_;
}

bool ProgramRun::WaitUntilListening() {
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + seconds(30);
    const unsigned long long termBit = 1ULL << (SIGTERM - 1);
    while (steady_clock::now() < deadline) {
        if (Exited()) return false;
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("SigCgt:", 0) == 0 &&
                (std::stoull(line.substr(7), nullptr, 16) & termBit) != 0) {
                return true;
            }
        }
        std::this_thread::sleep_for(milliseconds(10));
    }
    return false;
}

bool ProgramRun::Ignores(int signal) const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigIgn:", 0) == 0) {
            return (std::stoull(line.substr(7), nullptr, 16) & (1ULL << (signal - 1))) != 0;
        }
    }
    return false;
}

int ProgramRun::WaitForExit(int timeoutMs) {
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(timeoutMs);
    while (!Exited()) {
        if (steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status_, 0);
            ended_ = true;
            return kTimedOut;
        }
        std::this_thread::sleep_for(milliseconds(10));
    }
    if (WIFEXITED(status_)) return WEXITSTATUS(status_);
    return -WTERMSIG(status_);
}

std::string ProgramRun::Output() const { return ReadWholeFile(outputPath_); }

}  // namespace vtest
