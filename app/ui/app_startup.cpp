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
#include <memory>
#include <string>

#include "app_settings.h"
#include "app_shutdown.h"
#include "atomic_file.h"
#include "instance_lock.h"
#include "job_queue.h"
#include "job_view.h"
#include "list_file.h"
#include "main_window.h"
#include "message_box.h"
#include "state_paths.h"
#include "shutdown_signals.h"
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
    Q_INIT_RESOURCE(vantorel);
    // The command line is ignored: Qt sees the program's name and nothing else.
    static char fallbackName[] = "vantorel";
    static char* qtArgv[] = {argc > 0 && argv[0] != nullptr ? argv[0] : fallbackName, nullptr};
    static int qtArgc = 1;

    if (!FindProgramPaths()) {
        QApplication app(qtArgc, qtArgv);
        ShowMessage(nullptr, "Argh");
        return 0;
    }
    InstanceLock lock;
    if (lock.Acquire(listPath) == InstanceLockState::kHeldElsewhere) return 0;

    QApplication app(qtArgc, qtArgv);
    // The loop ends where the window says so (close or Exit), not when the last
    // window is hidden.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/vantorel.png")));

    // Only the lock holder writes these two files: a temporary one beside them
    // was left by an instance killed in the middle of a save.
    RemoveStaleTemporaries(listPath);
    RemoveStaleTemporaries(iniPath);
    LoadSettings();
    if (defPath.empty()) defPath = DesktopFolder();
    // Job file names are relative to the current folder. A folder that cannot be
    // entered is no reason to stop: the start folder stays current.
    if (!defPath.empty() && ::chdir(defPath.c_str()) != 0) {
    }
    LoadJobList();

    auto window = std::make_unique<MainWindow>();
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
    StartJobs();
    FillJobView(window.get());
    window->watcher().Sync();
    QApplication::exec();

    signalWatch.reset();
    window.reset();
    // A second Ctrl+C during a long wait for the runs now ends the program at once.
    RemoveShutdownSignals();
    StopAndWaitForAllRuns();
    DestroyAllJobs();
    SaveSettings();
    lock.Release();
    return 0;
}
