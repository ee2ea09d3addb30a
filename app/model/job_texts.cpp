#include "job_texts.h"

#include <climits>
#include <cstdio>
#include <cstring>

char textBuffer[64];

namespace {

struct SizeUnit {
    std::uint64_t below;  // the unit serves counts below this
    int shift;            // bytes per unit, as a power of two
    const char* name;
};

// Up to 2^32 the historic units. Beyond that the Mb count would need five digits
// or more and lose its leading ones to the four-character cut, so larger units
// keep the value below 10000.
constexpr SizeUnit kUnits[] = {
    {std::uint64_t{1} << 10, 0, "b"},   {std::uint64_t{1} << 20, 10, "K"},
    {std::uint64_t{1} << 32, 20, "Mb"}, {std::uint64_t{1} << 40, 30, "Gb"},
    {std::uint64_t{1} << 50, 40, "Tb"}, {std::uint64_t{1} << 60, 50, "Pb"},
    {~std::uint64_t{0}, 60, "Eb"},
};

struct ResultName {
    unsigned long result;
    const char* label;
};

// 2, 4 and 10 are never produced by the library but keep their labels.
constexpr ResultName kResultNames[] = {
    {0, ""},
    {1, "FOpen"},
    {2, "NoFile"},
    {3, "FProblem"},
    {4, "BadURL"},
    {5, "BadURL"},
    {6, "Unsupported"},
    {7, "NoConnect"},
    {8, "BadRequest"},
    {9, "BadSendRequest"},
    {10, "FileWrongLength"},
    {11, "Dropped"},
    {12, "Interrupted"},
    {13, "TimeOut"},
    {400, "BadReq"},
    {401, "Unauth"},
    {402, "Pay!"},
    {403, "Forbidden"},
    {405, "BadMethod"},
    {406, "NotAccept"},
    {407, "AuthReq"},
    {408, "TimeOut"},
    {410, "Gone"},
    {500, "ServError"},
    {503, "Later"},
    {504, "GTimeOut"},
};

}  // namespace

char* FormatSize(char* out, std::uint64_t bytes) {
    const SizeUnit* unit = kUnits;
    while (bytes >= unit->below && unit->shift < 60) {
        ++unit;
    }
    // long double holds every 64-bit count exactly, and the division by a power of
    // two is exact, so only the printing rounds.
    const long double value = static_cast<long double>(bytes) / (std::uint64_t{1} << unit->shift);
    char digits[48];
    std::snprintf(digits, sizeof digits, "%01.3Lf", value);
    // The value is below 10000 (4096 at most below 2^32) and printed with three
    // decimals, so `digits` always has five characters or more.
    const std::size_t keep = digits[3] == '.' ? 3 : 4;
    std::memcpy(out, digits, keep);
    std::strcpy(out + keep, unit->name);
    return out;
}

const char* StatusText(DownloadJob* job) {
    const long long status = job->status.load(std::memory_order_relaxed);
    switch (status) {
        case STATUS_DONE:
            return "Done";
        case STATUS_FAILED:
            return "Failed";
        case STATUS_WAIT:
            return "Wait";
        case STATUS_OPENING:
            return "Opening";
        case STATUS_CONNECT:
            return "Connect";
        case STATUS_REQUEST:
            return "Request";
        case STATUS_CATCH:
            return "Catch";
        default:
            break;
    }
    FormatSize(textBuffer, static_cast<std::uint64_t>(status));
    const std::uint64_t total = job->totalSize.load(std::memory_order_relaxed);
    // An unknown length has no percentage, and neither has a length of 0: that is
    // only seen for the instant an empty body ends, where the division has no value.
    if (total != SIZE_UNKNOWN && total != 0) {
        const std::size_t used = std::strlen(textBuffer);
        std::snprintf(textBuffer + used, sizeof textBuffer - used, " (%.1f%%)",
                      static_cast<double>(status) * 100.0 / static_cast<double>(total));
    }
    return textBuffer;
}

const char* ResultLabel(DownloadJob* job) {
    const unsigned long result = job->result.load(std::memory_order_relaxed);
    if (result == 404) {
        // Held at INT_MAX rather than overflowing: the count grows at every
        // refresh of the view for as long as the job stays in the queue.
        job->tries = job->tries > INT_MAX - 20 ? INT_MAX : job->tries + 20;
        return "NotFound";
    }
    for (const ResultName& entry : kResultNames) {
        if (entry.result == result) {
            return entry.label;
        }
    }
    return "Eh?";
}

const char* LastErrorText(DownloadJob* job) {
    const int tries = job->tries;
    if (tries == 0) {
        return "";
    }
    // The label first: it may change `tries`, and the text shows the count before.
    const char* label = ResultLabel(job);
    std::snprintf(textBuffer, sizeof textBuffer, "%s:%d", label, tries);
    return textBuffer;
}
