// The download's own file, as one attempt opens and leaves it.
//
// Opened, never truncated (another run may be writing it under its lock) and
// never through a symbolic link: one planted in a shared save folder under the
// download's name would have us write over the file it points to. A name the
// attempt had to create is noted, so that a failed attempt that wrote nothing
// takes its empty file away again, while an empty file someone else made (a name
// reserved when the download was added) stays.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brindlex {

struct OutputFile {
    int fd = -1;               // written at explicit offsets, never through a stream
    bool created = false;      // this attempt made the file
    std::uint64_t length = 0;  // when opened, before any write of this attempt
};

// Worker thread. Opens `path` for reading and writing, creating it when there is
// none, and takes its lock; no descriptor when it cannot be opened or another run
// holds it.
OutputFile OpenOutputFile(const char* path);

// Writes all of `data` at `offset`; false with errno set when the disk refuses.
bool WriteAt(int fd, const char* data, std::size_t count, std::uint64_t offset);

// Worker thread, before the file is closed on a failure: removes the file when
// this attempt created it, it is empty and `path` still names it.
void RemoveIfUntouched(const OutputFile& output, const char* path);

}  // namespace brindlex
