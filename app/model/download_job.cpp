#include "download_job.h"

#include <cstdlib>
#include <cstring>

DownloadJob::DownloadJob()
    : fileName(nullptr), tries(0), deleteMark(0), next(nullptr), prev(nullptr), order(0),
      paused(0), nameReserved(false), reservedDevice(0), reservedInode(0),
      ownFileUnchecked(false), countedAs(-1) {}

DownloadJob::~DownloadJob() {
    // The base destructor never reads the receptor, but nothing may point at the
    // released name even for that moment.
    dataReceptor = nullptr;
    std::free(fileName);
    fileName = nullptr;
}

int SetJobFileName(DownloadJob* job, const char* name) {
    std::free(job->fileName);
    job->fileName = nullptr;
    // SetDataReceptor ignores 0, so the receptor is cleared through the member.
    job->dataReceptor = nullptr;
    if (name == nullptr) {
        return 0;
    }
    const std::size_t size = std::strlen(name) + 1;
    char* copy = static_cast<char*>(std::malloc(size));
    if (copy == nullptr) {
        return 0;
    }
    std::memcpy(copy, name, size);
    job->fileName = copy;
    job->dataReceptor = copy;
    return 1;
}
