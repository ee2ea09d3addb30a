// What the fetch reads from the final answer's headers before it decides
// anything about the file.
#pragma once

#include <cstdint>
#include <ctime>

#include "brindlex/vbrindlex.h"

namespace brindlex {

struct AnswerHead {
    unsigned long status = 0;
    bool advertisesRanges = false;  // Accept-Ranges names "bytes"
    std::time_t modified = 0;       // Last-Modified, else now
    bool hasLength = false;         // a Content-Length that frames the body
    std::uint64_t announced = 0;
    bool hasRangeText = false;  // a Content-Range short enough to read
    char rangeText[2048] = {};
    bool hasRangeHeader = false;  // a Content-Range of any length
};

// Worker thread. Reads every header before any of them decides anything. A stop
// or the watchdog may close the handle at any moment, and a query on a closed
// handle fails as if the header were absent: taken as "no ranges, no length",
// that would rewind and cut the partial file. The close is final, so when the
// handle is still open after the last query, every failed query was a header the
// answer really lacks. False when the answer cannot be read so (closed, no
// status, an Accept-Ranges too long to read).
bool ReadAnswerHead(VHINTERNET request, AnswerHead* head);

}  // namespace brindlex
