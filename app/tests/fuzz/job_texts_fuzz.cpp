// libFuzzer target for the column texts: any size, status, length, result and
// restart count give texts that end inside textBuffer, a size text of the rule's
// shape (four characters at most, then the unit), no "inf" or "nan", and a 404
// count that never overflows.
//   job_texts_fuzz [corpus folder] [-runs=N] [-max_total_time=S]
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "job_texts.h"

namespace {

template <typename T>
T Take(const std::uint8_t*& data, std::size_t& size) {
    T value{};
    const std::size_t n = size < sizeof value ? size : sizeof value;
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
}

void CheckInBuffer(const char* text) {
    if (text == textBuffer && std::memchr(textBuffer, '\0', sizeof textBuffer) == nullptr) {
        std::abort();
    }
    if (std::strstr(text, "inf") != nullptr || std::strstr(text, "nan") != nullptr) std::abort();
}

void CheckSize(const char* text) {
    const std::size_t digits = std::strspn(text, "0123456789.");
    const char* unit = text + digits;
    if (digits < 3 || digits > 4 || text[digits - 1] == '.') std::abort();
    static const char* const kUnits[] = {"b", "K", "Mb", "Gb", "Tb", "Pb", "Eb"};
    for (const char* known : kUnits) {
        if (std::strcmp(unit, known) == 0) return;
    }
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto bytes = Take<std::uint64_t>(data, size);
    const auto status = Take<long long>(data, size);
    const auto total = Take<std::uint64_t>(data, size);
    const auto result = Take<std::uint32_t>(data, size);
    const auto tries = Take<int>(data, size);

    std::memset(textBuffer, 'X', sizeof textBuffer);
    CheckSize(FormatSize(textBuffer, bytes));

    DownloadJob job;
    job.status = status;
    job.totalSize = total;
    job.result = result;
    job.tries = tries;
    std::memset(textBuffer, 'X', sizeof textBuffer);
    CheckInBuffer(StatusText(&job));
    std::memset(textBuffer, 'X', sizeof textBuffer);
    CheckInBuffer(LastErrorText(&job));
    if (tries != 0 && result == 404 && job.tries != (tries > INT_MAX - 20 ? INT_MAX : tries + 20)) {
        std::abort();
    }
    return 0;
}
