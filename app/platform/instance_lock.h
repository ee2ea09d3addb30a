// The single-instance lock: one running program per state folder (state_folder.h).
//
// The lock is an exclusive flock on the folder that holds the list file (the
// folder listPath names). The kernel holds it for the open descriptor, so it is
// gone the moment the process ends, however it ends: a crashed or killed
// instance never blocks the next start, and no lock file is left behind or needs
// writing, so a read-only state folder works too. Every path that reaches the
// same folder (symbolic links, bind mounts) reaches the same lock.
//
// Threads: user-interface thread (start-up and shutdown).
#pragma once

#include <string>

enum class InstanceLockState {
    kHeld,           // this process holds the lock
    kHeldElsewhere,  // another instance runs from this folder: end at once, silently
    kUnknown,        // the lock could not be taken or tested: start anyway
};

class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock() { Release(); }
    // Owns a descriptor whose closing ends the lock: no copies.
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Tries, without waiting, to take the lock of the folder of `listPath` (the
    // current folder when the path has no '/'). Releases any lock held before.
    InstanceLockState Acquire(const std::string& listPath);

    // Gives the lock up; nothing when none is held.
    void Release();

    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};
