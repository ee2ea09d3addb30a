#include "content_range.h"

#include <strings.h>

#include "brindlex/vbrindlex.h"

namespace brindlex {
namespace {

void SkipBlanks(const char*& p) {
    while (*p == ' ' || *p == '\t') ++p;
}

// Reads one or more decimal digits into *value; false on none or on overflow.
bool ReadNumber(const char*& p, std::uint64_t* value) {
    if (*p < '0' || *p > '9') return false;
    std::uint64_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        const unsigned digit = static_cast<unsigned>(*p - '0');
        if (v > (SIZE_UNKNOWN - digit) / 10) return false;
        v = v * 10 + digit;
    }
    *value = v;
    return true;
}

// Passes over the leading "bytes" and the blanks after it; false for another unit.
bool SkipUnit(const char*& p) {
    SkipBlanks(p);
    if (strncasecmp(p, "bytes", 5) != 0) return false;
    p += 5;
    if (*p != ' ' && *p != '\t') return false;
    SkipBlanks(p);
    return true;
}

}  // namespace

bool ParseContentRange(const char* text, ContentRange* range) {
    const char* p = text;
    if (!SkipUnit(p)) return false;
    ContentRange r{};
    if (!ReadNumber(p, &r.start)) return false;
    SkipBlanks(p);
    if (*p++ != '-') return false;
    SkipBlanks(p);
    if (!ReadNumber(p, &r.end)) return false;
    SkipBlanks(p);
    if (*p++ != '/') return false;
    SkipBlanks(p);
    if (*p == '*') {
        r.total = SIZE_UNKNOWN;
        ++p;
    } else if (!ReadNumber(p, &r.total) || r.total == SIZE_UNKNOWN) {
        return false;
    }
    SkipBlanks(p);
    if (*p != '\0') return false;
    if (r.end < r.start) return false;
    if (r.total != SIZE_UNKNOWN && r.end >= r.total) return false;
    *range = r;
    return true;
}

bool ParseUnsatisfiedRange(const char* text, std::uint64_t* total) {
    const char* p = text;
    if (!SkipUnit(p)) return false;
    if (*p++ != '*') return false;
    SkipBlanks(p);
    if (*p++ != '/') return false;
    SkipBlanks(p);
    std::uint64_t t = 0;
    if (!ReadNumber(p, &t) || t == SIZE_UNKNOWN) return false;
    SkipBlanks(p);
    if (*p != '\0') return false;
    *total = t;
    return true;
}

}  // namespace brindlex
