#include "job_texts.h"

#include <sys/stat.h>

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

struct Explanation {
    const char* label;
    const char* sentence;
};

// What each label tells the user, in the words of the list's own columns.
constexpr Explanation kExplanations[] = {
    {"FOpen", "The download could not be started (no connection library or no thread)."},
    {"NoFile", "The file was not found."},
    {"FProblem", "The file could not be created or written"},
    {"BadURL", "The URL could not be read as an address."},
    {"Unsupported", "The address is neither HTTP nor HTTPS."},
    {"NoConnect", "No connection could be made to the server or proxy."},
    {"BadRequest", "The request could not be made."},
    {"BadSendRequest", "The request could not be sent, or no answer came."},
    {"FileWrongLength", "The file did not have the expected length."},
    {"Dropped", "The connection ended before the whole file arrived."},
    {"Interrupted", "The download was stopped before it was complete."},
    {"TimeOut", "The server did not answer in time."},
    {"BadReq", "The server refused the request as malformed (HTTP 400)."},
    {"Unauth", "The server wants a user name and password (HTTP 401)."},
    {"Pay!", "The server wants payment (HTTP 402)."},
    {"Forbidden", "The server refused access to the file (HTTP 403)."},
    {"NotFound", "The server has no such file (HTTP 404); it is soon no longer retried."},
    {"BadMethod", "The server does not allow this request (HTTP 405)."},
    {"NotAccept", "The server cannot send the file in an accepted form (HTTP 406)."},
    {"AuthReq", "The proxy wants a user name and password (HTTP 407)."},
    {"Gone", "The file is gone from the server for good (HTTP 410)."},
    {"ServError", "The server failed with an internal error (HTTP 500)."},
    {"Later", "The server is busy or down for now (HTTP 503)."},
    {"GTimeOut", "A gateway did not get an answer in time (HTTP 504)."},
    {"Eh?", "The server answered with an unexpected status."},
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
    return StatusText(job->status.load(std::memory_order_relaxed),
                      job->totalSize.load(std::memory_order_relaxed));
}

const char* StatusText(long long status, std::uint64_t total) {
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

const char* PausedText(DownloadJob* job) {
    return PausedText(job, job->status.load(std::memory_order_relaxed),
                      job->totalSize.load(std::memory_order_relaxed));
}

const char* PausedText(DownloadJob* job, long long status, std::uint64_t total) {
    std::strcpy(textBuffer, "Paused");
    std::uint64_t held = status >= 0 ? static_cast<std::uint64_t>(status)
                                     : job->received.load(std::memory_order_relaxed);
    struct stat info {};
    // Nothing counted this session: what the partial file holds.
    if (held == 0 && job->thread == nullptr && job->fileName != nullptr &&
        ::stat(job->fileName, &info) == 0 && S_ISREG(info.st_mode)) {
        held = static_cast<std::uint64_t>(info.st_size);
    }
    if (held == 0) return textBuffer;
    char size[16];
    FormatSize(size, held);
    if (total != SIZE_UNKNOWN && total != 0) {
        std::snprintf(textBuffer, sizeof textBuffer, "Paused %s (%.1f%%)", size,
                      static_cast<double>(held) * 100.0 / static_cast<double>(total));
    } else {
        std::snprintf(textBuffer, sizeof textBuffer, "Paused %s", size);
    }
    return textBuffer;
}

std::string LastErrorExplanation(const std::string& text, int fileError) {
    if (text.empty()) return "";
    const std::string label = text.substr(0, text.rfind(':'));
    std::string sentence;
    for (const Explanation& entry : kExplanations) {
        if (label == entry.label) sentence = entry.sentence;
    }
    if (sentence.empty()) sentence = "The last attempt failed.";
    if (label == "FProblem") {
        sentence += fileError != 0 ? std::string(": ") + std::strerror(fileError) + "." : ".";
    }
    const std::string tries = text.substr(label.size() + (label.size() < text.size() ? 1 : 0));
    if (!tries.empty()) sentence += " Restarted " + tries + (tries == "1" ? " time." : " times.");
    return sentence;
}
