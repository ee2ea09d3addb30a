// Runs the real `vantorel` program for a test: copied into a program folder of
// the test's own (the program keeps its files beside itself), with a home, a
// desktop and XDG folders inside the test's folder, so it never touches the real
// home (nor a session bus). It is driven by its files and signals, and by the
// URLs of its command line.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "temp_dir.h"

namespace vtest {

class ProgramFolder {
public:
    // Lays out under `root`: prog/ (the program), home/ with home/Desktop/ when
    // `withDesktop`, start/ (the folder it is started in), and the XDG folders.
    ProgramFolder(const std::string& root, bool withDesktop);

    std::string programDir() const { return root_ + "/prog"; }
    std::string desktop() const { return root_ + "/home/Desktop"; }
    std::string startDir() const { return root_ + "/start"; }
    std::string iniPath() const { return programDir() + "/vantorel.ini"; }
    std::string listPath() const { return programDir() + "/filelist.dat"; }

private:
    std::string root_;
};

// One run of the program. The destructor kills a run that is still going.
class ProgramRun {
public:
    // `environment` adds "NAME=value" entries to the program's own environment.
    explicit ProgramRun(const ProgramFolder& folder, const std::vector<std::string>& args = {},
                        const std::vector<std::string>& environment = {});
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    // True once the program catches SIGTERM (its event loop will then handle it);
    // false when it ended first or did not get there in time.
    bool WaitUntilListening();
    void Signal(int signal) const { ::kill(pid_, signal); }
    // Whether the running program ignores `signal` (its SigIgn in /proc). The
    // program starts with every signal at its default action, whatever the test's.
    bool Ignores(int signal) const;
    // The exit code, -signal when killed by one, or kTimedOut (the run is then killed).
    int WaitForExit(int timeoutMs);
    // Whatever the program wrote to stdout and stderr, for failure messages.
    std::string Output() const;

    static constexpr int kTimedOut = -1000;

private:
    bool Exited();

    pid_t pid_ = -1;
    int status_ = 0;
    bool ended_ = false;
    std::string outputPath_;
};

}  // namespace vtest
