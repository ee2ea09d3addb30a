#include "own_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "file_name_chars.h"
#include "list_save_request.h"

namespace {

// Kept with its folder: the save folder may change before the job runs. Empty
// when the current folder cannot be told.
std::string FullPath(const std::string& name) {
    if (!name.empty() && name.front() == '/') return name;
    char folder[PATH_MAX];
    if (getcwd(folder, sizeof folder) == nullptr) return std::string();
    return std::string(folder) + "/" + name;
}

// Creates `name` empty unless anything at all is there (a file, a folder, a
// link, even a dangling one). True with the new file's identity.
bool Reserve(const std::string& name, ClaimedName* claimed) {
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    struct stat info {};
    const bool known = fstat(fd, &info) == 0;
    close(fd);
    claimed->name = name;
    claimed->path = FullPath(name);
    claimed->reserved = known && !claimed->path.empty();
    claimed->device = static_cast<unsigned long long>(info.st_dev);
    claimed->inode = static_cast<unsigned long long>(info.st_ino);
    return true;
}

bool IsReservation(const DownloadJob* job, const struct stat& info) {
    return job->nameReserved &&
           static_cast<unsigned long long>(info.st_dev) == job->reservedDevice &&
           static_cast<unsigned long long>(info.st_ino) == job->reservedInode;
}

void DropOwnReservationElsewhere(DownloadJob* job, const std::string& here) {
    // Where the name is now, the file was found not to be the reservation (or
    // was just made anew): its inode number may be the old one's, reused.
    if (job->reservedPath != here) DropOwnReservation(job);
}

void RecordClaim(DownloadJob* job, const ClaimedName& claimed) {
    job->nameReserved = claimed.reserved;
    job->reservedPath = claimed.path;
    job->reservedDevice = claimed.device;
    job->reservedInode = claimed.inode;
}

}  // namespace

bool ClaimFreeName(std::string_view name, NameInQueue taken, ClaimedName* claimed) {
    // Each taken candidate costs a look-up and a system call: the work grows with
    // the files and jobs of this one name, never with the queue.
    for (unsigned n = 0;; ++n) {
        const std::string candidate = NumberedFileName(name, n);
        if (candidate.size() > kLongestFileName) return false;
        if (taken(candidate)) continue;
        if (Reserve(candidate, claimed)) return true;
        if (errno == EEXIST) continue;
        struct stat info {};
        if (lstat(candidate.c_str(), &info) == 0) continue;
        *claimed = ClaimedName();
        claimed->name = candidate;
        return true;
    }
}

void GiveClaimedName(DownloadJob* job, const ClaimedName& claimed) {
    SetJobFileName(job, claimed.name.c_str());
    RecordClaim(job, claimed);
    job->ownFileUnchecked = true;
}

FirstRunFile MakeFileOwnBeforeFirstRun(DownloadJob* job, NameInQueue taken, std::string* moved) {
    if (!job->ownFileUnchecked || job->fileName == nullptr) return FirstRunFile::kOwn;
    const std::string name = job->fileName;
    struct stat info {};
    ClaimedName claimed;
    if (lstat(name.c_str(), &info) == 0) {
        if (IsReservation(job, info)) {
            job->ownFileUnchecked = false;
            return FirstRunFile::kOwn;
        }
    } else if (errno != ENOENT) {
        // Cannot look: the run meets the same problem and says so.
        return FirstRunFile::kOwn;
    } else if (Reserve(name, &claimed)) {
        // The reservation is gone (another save folder, or removed): nothing is
        // there, so the name is still free to take.
        DropOwnReservationElsewhere(job, claimed.path);
        RecordClaim(job, claimed);
        job->ownFileUnchecked = false;
        return FirstRunFile::kOwn;
    } else if (errno != EEXIST) {
        return FirstRunFile::kOwn;
    }
    // Someone else's file: never written into. The next free name instead.
    if (!ClaimFreeName(name, taken, &claimed)) return FirstRunFile::kNoFreeName;
    DropOwnReservationElsewhere(job, FullPath(name));
    RecordClaim(job, claimed);
    job->ownFileUnchecked = !claimed.reserved;
    *moved = claimed.name;
    SaveJobListSoon();
    return FirstRunFile::kMoved;
}

void DropOwnReservation(DownloadJob* job) {
    if (!job->nameReserved) return;
    if (job->status.load(std::memory_order_relaxed) == STATUS_DONE) return;
    const char* path = job->reservedPath.c_str();
    struct stat info {};
    if (lstat(path, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != 0 ||
        !IsReservation(job, info)) {
        return;
    }
    unlink(path);
}
