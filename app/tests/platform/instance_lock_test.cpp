// The single-instance lock: one holder per program folder, freed by the kernel
// however the holder ends.
#include "instance_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "../settings/temp_folder.h"

namespace {

// A child process that takes the lock of `listPath` and then waits to be killed.
// It reports the outcome through a pipe as one byte: 'H' held, 'E' held
// elsewhere, 'U' unknown.
class LockingChild {
public:
    explicit LockingChild(const std::string& listPath) {
        int ends[2];
        if (::pipe(ends) != 0) {
            ADD_FAILURE() << "pipe failed";
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ends[0]);
            InstanceLock lock;
            InstanceLockState state = lock.Acquire(listPath);
            char report = state == InstanceLockState::kHeld            ? 'H'
                          : state == InstanceLockState::kHeldElsewhere ? 'E'
                                                                       : 'U';
            if (::write(ends[1], &report, 1) != 1) ::_exit(1);
            for (;;) ::pause();
        }
        ::close(ends[1]);
        if (pid_ < 0) {
            ADD_FAILURE() << "fork failed";
            ::close(ends[0]);
            return;
        }
        if (::read(ends[0], &report_, 1) != 1) ADD_FAILURE() << "child said nothing";
        ::close(ends[0]);
    }
    ~LockingChild() { Kill(); }

    char Report() const { return report_; }

    // Ends the child the hard way, as a crash would, and reaps it.
    void Kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status));
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    char report_ = '?';
};

TEST(InstanceLockTest, SecondInstanceIsRefusedUntilTheFirstIsKilled) {
    TempFolder folder;
    const std::string listPath = folder / "filelist.dat";
    LockingChild first(listPath);
    ASSERT_EQ(first.Report(), 'H');

    InstanceLock second;
    EXPECT_EQ(second.Acquire(listPath), InstanceLockState::kHeldElsewhere);
    EXPECT_FALSE(second.Held());

    first.Kill();
    EXPECT_EQ(second.Acquire(listPath), InstanceLockState::kHeld);
    EXPECT_TRUE(second.Held());

    // And now the other way round: we hold it, a new process is refused.
    LockingChild third(listPath);
    EXPECT_EQ(third.Report(), 'E');
}

TEST(InstanceLockTest, ReleaseFreesTheLockAndFoldersAreIndependent) {
    TempFolder one, two;
    InstanceLock a, b, c;
    ASSERT_EQ(a.Acquire(one / "filelist.dat"), InstanceLockState::kHeld);
    // Another descriptor of the same folder, even in this process, is another instance.
    EXPECT_EQ(b.Acquire(one / "filelist.dat"), InstanceLockState::kHeldElsewhere);
    EXPECT_EQ(c.Acquire(two / "filelist.dat"), InstanceLockState::kHeld);

    a.Release();
    EXPECT_FALSE(a.Held());
    EXPECT_EQ(b.Acquire(one / "filelist.dat"), InstanceLockState::kHeld);
    {
        InstanceLock scoped;
        EXPECT_EQ(scoped.Acquire(two / "other-name.dat"), InstanceLockState::kHeldElsewhere);
    }
    // No file was made in the folder for the lock.
    EXPECT_TRUE(std::filesystem::is_empty(one.Path()));
}

TEST(InstanceLockTest, LinkedAndReadOnlyFoldersLockAndMissingOnesCannotTell) {
    TempFolder folder, links;
    std::filesystem::create_directory_symlink(folder.Path(), links / "alias");
    std::filesystem::permissions(
        folder.Path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    InstanceLock a, b, c;
    ASSERT_EQ(a.Acquire(folder / "filelist.dat"), InstanceLockState::kHeld);
    // The same folder through a symbolic link is the same lock.
    EXPECT_EQ(b.Acquire(links / "alias/filelist.dat"), InstanceLockState::kHeldElsewhere);
    EXPECT_EQ(c.Acquire(folder / "missing/filelist.dat"), InstanceLockState::kUnknown);
    EXPECT_FALSE(c.Held());
}

}  // namespace
