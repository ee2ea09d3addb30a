// The part of an attempt that fetches one file over several connections, once
// the first answer proved that ranges work (fetch.cpp decides that).
//
// The first connection goes on with its answer from where it stands and ends
// where the next piece starts; every extra connection is another request on the
// same connection handle, so a stop and the watchdog, which close that handle,
// reach them all. Each connection writes its own blocks at its own offset and
// then takes the next piece (piece_table.h), until nothing is left to take. What
// the file holds is recorded beside it (held_record.h), data first.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "brindlex/vbrindlex.h"
#include "held_record.h"
#include "piece_table.h"
#include "resume_validator.h"

namespace brindlex {

struct SplitPlan {
    int fd = -1;                 // the output file, under the run's lock
    VHINTERNET connection = {};  // every further request is made on it
    std::string object;          // the request target
    const char* referer = nullptr;
    bool secure = false;
    std::string refererLine;  // "Referer: ...\r\n" as the first request sent it
    // The first answer's version: every piece must be of it, and asks for it
    // with If-Range. None when the first answer gave no validator.
    std::optional<ResumeValidator> version;
    HeldRecord record;     // complete length, version text, ranges held at the start
    unsigned extra = 0;    // how many more connections to open
    // Called, under the table's lock, with the bytes held after every block.
    std::function<void(std::uint64_t)> held;
};

struct SplitOutcome {
    unsigned long code;  // RESULT_OK once every byte is held
    int error;           // errno of a failed write (RESULT_FILE_PROBLEM)
    // A piece was of another length of resource: the file changed on the server.
    bool versionChanged;
};

// Worker thread. `first` is the first request, its body about to start at `at`.
// Returns once every connection has ended and the record was written a last time.
SplitOutcome FetchSplit(VBRINDLEX& owner, const SplitPlan& plan, VHINTERNET first,
                        std::uint64_t at);

}  // namespace brindlex
