#include "output_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace brindlex {

namespace {

// Renamed or removed in between, the name names another file (or none) by now.
bool NameStillNames(int fd, const char* path) {
    struct stat opened {};
    struct stat named {};
    return fstat(fd, &opened) == 0 && lstat(path, &named) == 0 && opened.st_dev == named.st_dev &&
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
        if (!NameStillNames(fd, path)) {
            close(fd);
            continue;
        }
        std::FILE* file = fdopen(fd, "r+b");
        if (file == nullptr) {
            close(fd);
            return {};
        }
        // Unbuffered: the blocks are written to the descriptor directly, and
        // nothing may sit in a stdio buffer for fclose to write later.
        std::setvbuf(file, nullptr, _IONBF, 0);
        return {file, created};
    }
    return {};
}

void RemoveIfUntouched(const OutputFile& output, const char* path) {
    if (output.file == nullptr || !output.created) return;
    const int fd = fileno(output.file);
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size != 0) return;
    // Still under our lock; the name is checked last so nobody else's file goes.
    if (NameStillNames(fd, path)) unlink(path);
}

}  // namespace brindlex
