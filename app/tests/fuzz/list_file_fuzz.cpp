// libFuzzer target for the list file reader: any bytes load without a crash, a
// hang or a leak, and every job read is whole and within the field limits.
//   list_file_fuzz [corpus folder] [-runs=N] [-max_total_time=S]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "job_queue.h"
#include "list_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;  // fmemopen needs a buffer; an empty file is tested elsewhere
    }
    std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (file == nullptr) {
        return 0;
    }
    LoadJobListFrom(file);
    std::fclose(file);
    while (jobList != nullptr) {
        const DownloadJob* job = jobList;
        if (job->fileName == nullptr || job->dataReceptor != job->fileName ||
            std::strlen(job->url) > kListUrlMax || std::strlen(job->fileName) > kListFileNameMax ||
            job->status.load() != STATUS_WAIT) {
            std::abort();
        }
        RemoveJob(jobList);
    }
    return 0;
}
