// libFuzzer target for the Content-Range reader: any header value is read without
// a crash, and a range it accepts is one a body can be written at: start <= end,
// end below a known total, and the same range again when written out and re-read.
//   content_range_fuzz [corpus folder] [-runs=N] [-max_total_time=S]
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "brindlex/vbrindlex.h"
#include "content_range.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A header value reaches the reader as a NUL-terminated copy.
    const std::string text(reinterpret_cast<const char*>(data), size);
    brindlex::ContentRange range{1, 2, 3};
    if (!brindlex::ParseContentRange(text.c_str(), &range)) {
        if (range.start != 1 || range.end != 2 || range.total != 3) std::abort();
        return 0;
    }
    if (range.start > range.end) std::abort();
    if (range.total != SIZE_UNKNOWN && range.end >= range.total) std::abort();
    char again[96];
    if (range.total == SIZE_UNKNOWN) {
        std::snprintf(again, sizeof again, "bytes %" PRIu64 "-%" PRIu64 "/*", range.start,
                      range.end);
    } else {
        std::snprintf(again, sizeof again, "bytes %" PRIu64 "-%" PRIu64 "/%" PRIu64, range.start,
                      range.end, range.total);
    }
    brindlex::ContentRange reread{};
    if (!brindlex::ParseContentRange(again, &reread) || reread.start != range.start ||
        reread.end != range.end || reread.total != range.total) {
        std::abort();
    }
    return 0;
}
