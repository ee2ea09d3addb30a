#include "atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<unsigned> tempCounter{0};

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const std::string& bytes) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

// Opens a temporary file of our own beside `target`, readable by the user only:
// the file may hold URLs with tokens. O_EXCL keeps two writers (or a stale file
// from a killed one) from ever sharing it and never follows a link.
int CreateTemp(const std::string& target, std::string* tempPath) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        *tempPath = target + ".tmp-" + std::to_string(getpid()) + "-" +
                    std::to_string(tempCounter.fetch_add(1, std::memory_order_relaxed));
        const int fd = open(tempPath->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::string& bytes) {
    if (path.empty()) {
        return false;
    }
    // A symbolic link in the file's place is replaced, never followed: its target
    // is no file of the user's state.
    const std::string& target = path;
    std::string tempPath;
    const int fd = CreateTemp(target, &tempPath);
    if (fd < 0) {
        return false;
    }
    bool ok = WriteAll(fd, bytes);
    // The data must be on the disk before the new name points at it; otherwise a
    // power loss after the rename can leave an empty file under the old name.
    ok = ok && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    ok = ok && rename(tempPath.c_str(), target.c_str()) == 0;
    if (!ok) {
        unlink(tempPath.c_str());
        return false;
    }
    // Makes the rename itself durable. Some file systems cannot sync a folder;
    // the file is already replaced then, so that is not a failure.
    const int folder = open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return true;
}

int OpenStateFileForReading(const std::string& path) {
    // Without blocking, so that a FIFO put in the file's place cannot stall start-up.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

void RemoveStaleTemporaries(const std::string& path) {
    if (path.empty()) {
        return;
    }
    const std::string& target = path;
    const std::string folder = FolderOf(target);
    const std::size_t slash = target.rfind('/');
    const std::string prefix =
        (slash == std::string::npos ? target : target.substr(slash + 1)) + ".tmp-";
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return;
    }
    while (const dirent* entry = readdir(dir)) {
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) {
            unlinkat(dirfd(dir), entry->d_name, 0);
        }
    }
    closedir(dir);
}
