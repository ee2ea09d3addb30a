// The record of which ranges a split download's file holds, kept beside the
// data in an extended attribute of the file, like the validator.
//
// A file fetched over several connections has holes, so its length no longer
// says what it holds. The record does, and it never claims a byte that is not in
// the file: bytes are written (and synced) first, the record naming them after.
// It names the complete length and the validator the bytes are of, so a record
// for another version is never trusted, and it goes with the validator once the
// file is complete. A record too long for the attribute drops its smallest
// ranges: it then claims less than the file holds, never more.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "piece_table.h"

namespace brindlex {

inline constexpr char kHeldAttribute[] = "user.vantorel.pieces";

// Room for the record: the validator shares a file's few KiB of attributes.
inline constexpr std::size_t kMaxHeldRecord = 2048;

struct HeldRecord {
    std::uint64_t total = 0;
    std::string version;  // the validator attribute's text; "" for none
    std::vector<ByteRange> ranges;  // sorted, apart, within [0, total)
};

enum class RecordState { None, Trusted, Untrusted };

// Worker thread, on the open output file of `fileLength` bytes whose validator
// attribute reads `version` ("" for none). Untrusted: a record is there but
// cannot be read, runs past the file or the complete length, or names another
// version.
RecordState ReadHeldRecord(int fd, const std::string& version, std::uint64_t fileLength,
                           HeldRecord* record);

// The record as stored, at most kMaxHeldRecord bytes (smallest ranges dropped).
std::string EncodeHeldRecord(const HeldRecord& record);

// Writes the record; false when the file system keeps no such attribute.
bool WriteHeldRecord(int fd, const HeldRecord& record);
// Marks the file as holding nothing that may be continued: the next attempt
// fetches it from the start.
void MarkHeldRecordStale(int fd);
void ForgetHeldRecord(int fd);

}  // namespace brindlex
