// vantorel-browser-host: the native messaging host of the browser extension.
// Each message asks for one download; it is handed to the running Vantorel of
// this user (the program beside the host, its state folder, its hand-off
// socket), which is started first when none runs. Each message is answered with
// queued or refused and a reason, and only after the hand-off ended: the browser
// may end the host soon after an answer.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "native_message.h"
#include "program_paths.h"
#include "state_folder.h"
#include "state_paths.h"
#include "url_handoff.h"

namespace {

// How long a running instance may take to listen, and one the host started.
constexpr int kRunningPatienceMs = 1000;
constexpr int kStartedPatienceMs = 10000;

// Starts the program in a session of its own with nothing of the browser's: its
// standard streams on /dev/null (holding the browser's pipes, it would die with
// them) and no other descriptor inherited. The middle process ends at once, so
// the program is nobody's child here.
bool StartDetached(const std::string& program) {
    const pid_t middle = ::fork();
    if (middle < 0) return false;
    if (middle == 0) {
        ::setsid();
        if (::fork() != 0) ::_exit(0);
        const int null = ::open("/dev/null", O_RDWR);
        for (int fd = 0; fd < 3; ++fd) ::dup2(null, fd);
        for (int fd = 3; fd < 1024; ++fd) ::close(fd);
        ::signal(SIGPIPE, SIG_DFL);
        char* const argv[] = {const_cast<char*>(program.c_str()), nullptr};
        ::execv(program.c_str(), argv);
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The reason the download was refused, "" when it was queued.
std::string HandOver(const HandedDownload& download, const std::string& program,
                     const QString& socketName) {
    std::vector<std::string> answers;
    HandoffReach reach =
        HandDownloadsToRunningInstance(socketName, {download}, kRunningPatienceMs, &answers);
    if (reach == HandoffReach::kUnreachable) {
        if (::access(program.c_str(), X_OK) != 0 || !StartDetached(program)) {
            return "Vantorel could not be started";
        }
        reach =
            HandDownloadsToRunningInstance(socketName, {download}, kStartedPatienceMs, &answers);
    }
    if (reach == HandoffReach::kUnreachable) return "Vantorel did not take the download";
    if (reach == HandoffReach::kOtherUser) return "the hand-off socket is served by another user";
    if (answers.empty()) return "Vantorel did not answer";
    return answers.front();
}

}  // namespace

int main(int argc, char** argv) {
    // A browser that went away must not end the host in the middle of a hand-off.
    ::signal(SIGPIPE, SIG_IGN);
    const bool ours = IsOurCaller(argc, argv);
    static char fallbackName[] = "vantorel-browser-host";
    int qtArgc = 1;
    char* qtArgv[] = {argc > 0 ? argv[0] : fallbackName, nullptr};
    QCoreApplication core(qtArgc, qtArgv);

    // The program beside the host, and the state folder it would choose.
    const std::optional<std::string> self = RunningProgramPath();
    const std::string program = (self ? FolderOf(*self) : std::string()) + "vantorel";
    const std::string stateFolder =
        ChooseStateFolder(FolderOf(program), UserStateFolder(), ::geteuid());
    const QString socketName =
        stateFolder.empty() ? QString() : HandoffSocketName(stateFolder + kListFileName);

    for (;;) {
        const ReadMessage message = ReadNativeMessage(stdin);
        switch (message.kind) {
            case ReadMessage::Kind::kEnd:
                return 0;
            case ReadMessage::Kind::kCut:
                return 1;
            case ReadMessage::Kind::kTooLarge:
                // The next message cannot be found after it: answer and end.
                WriteNativeMessage(stdout, AnswerJson("the message is over " +
                                                      std::to_string(kMaxMessageBytes) + " bytes"));
                return 1;
            case ReadMessage::Kind::kMessage:
                break;
        }
        std::string reason;
        if (!ours) {
            reason = "the caller is not the Vantorel extension";
        } else if (const std::optional<HandedDownload> download =
                       ParseDownloadMessage(message.bytes, &reason)) {
            reason = stateFolder.empty() ? "Vantorel has no state folder"
                                         : HandOver(*download, program, socketName);
        }
        if (!WriteNativeMessage(stdout, AnswerJson(reason))) return 1;
    }
}
