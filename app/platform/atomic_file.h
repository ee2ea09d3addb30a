// Reading and replacing a file that holds the user's state (the list file, the
// settings file): never through a symbolic link, readable by the user only (its
// URLs can carry tokens), and replaced so that a crash, a kill or a full disk
// never leaves it half-written.
#pragma once

#include <string>

// Writes `bytes` to a new file in the folder of `path`, flushes it to the disk and
// renames it over `path`, then flushes the folder. Afterwards `path` holds either
// its old content or `bytes`, whole, whatever happens in between. A symbolic link
// at `path` is replaced by the file, never followed. The file is left with mode
// 0600, whatever mode an earlier one had.
//
// Returns false when the file could not be replaced; `path` is then untouched and
// no temporary file is left behind (a process killed in the middle may leave one,
// named `path` + ".tmp-" + pid + "-" + count). Any thread; concurrent calls for the
// same path each leave a whole file, the last rename winning.
bool WriteFileAtomically(const std::string& path, const std::string& bytes);

// Opens the state file `path` for reading (a descriptor the caller closes), or -1
// with errno set: ENOENT when there is none, ELOOP when it is a symbolic link,
// EINVAL when it is no regular file (a FIFO, a folder).
int OpenStateFileForReading(const std::string& path);

// Removes the temporary files a killed WriteFileAtomically may have left beside
// `path` (`path` + ".tmp-" ...). Call it only while no one else can be writing
// `path`: the program does so at start-up, holding its instance lock.
void RemoveStaleTemporaries(const std::string& path);
