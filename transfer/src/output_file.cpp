#include "output_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace brindlex {

namespace {

// Renamed or removed in between, the name names another file (or none) by now.
bool NameStillNames(const struct stat& opened, const char* path) {
    struct stat named {};
    return lstat(path, &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

}  // namespace

OutputFile OpenOutputFile(const char* path) {
    // A run that removes its untouched file can do so between our open and our
    // lock: the name is checked once the lock is ours, and opened afresh if it
    // no longer names what we hold (bounded: names do not change for ever).
    for (int tries = 0; tries < 3; ++tries) {
        bool created = true;
        int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0 && errno == EEXIST) {
            created = false;
            fd = open(path, O_RDWR | O_CLOEXEC | O_NOFOLLOW);
            if (fd < 0 && errno == ENOENT) continue;  // gone since: create it after all
        }
        if (fd < 0) return {};
        // Two runs writing one file (two jobs with the same name, or two programs
        // saving to one folder) would interleave their bytes: the second one waits
        // for another attempt instead. The lock goes with the close.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            close(fd);
            return {};
        }
        struct stat opened {};
        if (fstat(fd, &opened) != 0) {
            close(fd);
            return {};
        }
        // Only the run that created a file takes it away, so a file we created
        // is still the one its name names.
        if (!created && !NameStillNames(opened, path)) {
            close(fd);
            continue;
        }
        return {fd, created, static_cast<std::uint64_t>(opened.st_size)};
    }
    return {};
}

bool WriteAt(int fd, const char* data, std::size_t count, std::uint64_t offset) {
    while (count > 0) {
        const ssize_t written = pwrite(fd, data, count, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        count -= static_cast<std::size_t>(written);
        offset += static_cast<std::uint64_t>(written);
    }
    return true;
}

void RemoveIfUntouched(const OutputFile& output, const char* path) {
    if (output.fd < 0 || !output.created) return;
    struct stat st {};
    if (fstat(output.fd, &st) != 0 || st.st_size != 0) return;
    // Still under our lock; the name is checked last so nobody else's file goes.
    if (NameStillNames(st, path)) unlink(path);
}

}  // namespace brindlex
