#include "instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "program_paths.h"

InstanceLockState InstanceLock::Acquire(const std::string& listPath) {
    Release();
    std::string folder = FolderOf(listPath);
    // Close-on-exec: a program started from here must not keep our lock alive.
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return InstanceLockState::kUnknown;
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        bool heldElsewhere = errno == EWOULDBLOCK;
        ::close(fd);
        return heldElsewhere ? InstanceLockState::kHeldElsewhere : InstanceLockState::kUnknown;
    }
    fd_ = fd;
    return InstanceLockState::kHeld;
}

void InstanceLock::Release() {
    if (fd_ < 0) return;
    // Closing the only descriptor of this open file ends the lock.
    ::close(fd_);
    fd_ = -1;
}
