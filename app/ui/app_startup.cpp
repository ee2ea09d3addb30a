// Start-up in its fixed order: the program's paths, the instance lock, the
// settings, the save folder, the queue, the window, the first runs, the loop;
// then the shutdown (app_shutdown.h).
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app_settings.h"
#include "app_shutdown.h"
#include "atomic_file.h"
#include "main_thread.h"
#include "caught_fields.h"
#include "command_line.h"
#include "instance_lock.h"
#include "job_queue.h"
#include "job_view.h"
#include "list_file.h"
#include "main_window.h"
#include "message_box.h"
#include "network_settings.h"
#include "pause_file.h"
#include "shutdown_signals.h"
#include "state_paths.h"
#include "url_handoff.h"
#include "vantorel_app.h"

namespace {

// The user's desktop folder (XDG), or "" when there is none on disk: the program
// then stays in the folder it was started in.
std::string DesktopFolder() {
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (desktop.isEmpty() || !QFileInfo(desktop).isDir()) return std::string();
    return QFile::encodeName(desktop).toStdString();
}

}  // namespace

int RunVantorel(int argc, char** argv) {
    RecordUiThread();
    // A write to a connection the server has closed must fail with EPIPE, not end
    // the program: libcurl can still raise SIGPIPE in corner cases (a TLS close)
    // even with CURLOPT_NOSIGNAL, and before any thread starts is the one safe
    // place to say so for the whole process.
    std::signal(SIGPIPE, SIG_IGN);
    Q_INIT_RESOURCE(vantorel);
    // The command line is ours alone: Qt sees the program's name and nothing else.
    const CommandLine command = ReadCommandLine(argc, argv);
    switch (command.action) {
        case CommandAction::kHelp:
            std::fputs(UsageText().c_str(), stdout);
            return kExitOk;
        case CommandAction::kVersion:
            std::fputs(VersionText().c_str(), stdout);
            return kExitOk;
        case CommandAction::kBadOption:
            std::fprintf(stderr, "vantorel: unknown option \"%s\"\n", command.badOption.c_str());
            std::fputs(UsageText().c_str(), stderr);
            return kExitUsage;
        case CommandAction::kRun:
            break;
    }
    const std::vector<std::string>& urls = command.urls;
    for (const RefusedUrl& refused : command.refused) PrintRefusal(refused.url, refused.reason);
    int status = command.refused.empty() ? kExitOk : kExitRefused;
    static char fallbackName[] = "vantorel";
    static char* qtArgv[] = {argc > 0 && argv[0] != nullptr ? argv[0] : fallbackName, nullptr};
    static int qtArgc = 1;

    if (!FindProgramPaths()) {
        QApplication app(qtArgc, qtArgv);
        ShowMessage(nullptr, "Argh");
        return 0;
    }
    InstanceLock lock;
    if (lock.Acquire(listPath) == InstanceLockState::kHeldElsewhere) {
        if (urls.empty()) return status;
        QCoreApplication core(qtArgc, qtArgv);
        return std::max(status, HandUrlsToRunningInstance(HandoffSocketName(listPath), urls));
    }

    QApplication app(qtArgc, qtArgv);
    // The loop ends where the window says so (close or Exit), not when the last
    // window is hidden.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/vantorel.png")));
    // Listening at once: a second start may hand URLs over before the window
    // exists; they wait in the socket until the loop runs, and the window is
    // there by then. The sender waits for the answer.
    std::unique_ptr<MainWindow> window;
    UrlHandoffServer handoff([&window](const std::vector<HandedDownload>& handed) {
        return window ? window->AddDownloadsFromOutside(handed) : std::vector<NewFileOutcome>();
    });
    handoff.Listen(HandoffSocketName(listPath));

    // Only the lock holder writes these files: a temporary one beside them was
    // left by an instance killed in the middle of a save.
    RemoveStaleTemporaries(listPath);
    RemoveStaleTemporaries(pausePath);
    RemoveStaleTemporaries(iniPath);
    RemoveStaleTemporaries(CaughtFieldsPath());
    LoadSettings();
    ApplyNetworkSettings();
    if (defPath.empty()) defPath = DesktopFolder();
    // Job file names are relative to the current folder. A folder that cannot be
    // entered is no reason to stop: the start folder stays current.
    if (!defPath.empty() && ::chdir(defPath.c_str()) != 0) {
    }
    LoadJobList();
    LoadPausedJobs();  // before the first runs: a paused job never starts
    LoadCaughtFields();

    window = std::make_unique<MainWindow>();
    std::unique_ptr<QSocketNotifier> signalWatch;
    const int signalFd = InstallShutdownSignals();
    if (signalFd >= 0) {
        signalWatch = std::make_unique<QSocketNotifier>(signalFd, QSocketNotifier::Read);
        QObject::connect(signalWatch.get(), &QSocketNotifier::activated, window.get(), [&window] {
            TakeShutdownSignal();
            window->CloseForShutdownSignal();
        });
    }
    window->show();
    if (!urls.empty()) {
        // This process's own command line: its refusals go to its own stderr.
        const std::vector<NewFileOutcome> outcomes = window->AddUrlsFromOutside(urls);
        for (std::size_t i = 0; i < outcomes.size() && i < urls.size(); ++i) {
            if (outcomes[i] == kJobAdded) continue;
            PrintRefusal(urls[i], RefusalReason(outcomes[i]));
            status = kExitRefused;
        }
    }
    StartJobs();
    FillJobView(window.get());
    window->watcher().Sync();
    QApplication::exec();

    // URLs handed over from now on would never be read: a second start finds no
    // one listening and says so.
    handoff.Close();
    signalWatch.reset();
    window.reset();
    // A second Ctrl+C during a long wait for the runs now ends the program at once.
    RemoveShutdownSignals();
    StopAndWaitForAllRuns();
    DestroyAllJobs();
    SaveSettings();
    lock.Release();
    return status;
}
