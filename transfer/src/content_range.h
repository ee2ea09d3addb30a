// The Content-Range header of a ranged answer, read strictly.
#pragma once

#include <cstdint>

namespace brindlex {

struct ContentRange {
    std::uint64_t start;  // offset of the body's first byte in the resource
    std::uint64_t end;    // offset of its last byte
    std::uint64_t total;  // length of the resource; SIZE_UNKNOWN for "*"
};

// Reads "bytes S-E/T" or "bytes S-E/*" (blanks around the parts allowed, "bytes"
// in any case). False for anything else, a number that does not fit 64 bits, or a
// range that contradicts itself (E < S, or E >= T): such an answer gives no offset
// the body could safely be written at.
bool ParseContentRange(const char* text, ContentRange* range);

// Reads the "bytes */T" of an answer that no range of the resource could satisfy
// (blanks as above). False for anything else.
bool ParseUnsatisfiedRange(const char* text, std::uint64_t* total);

}  // namespace brindlex
