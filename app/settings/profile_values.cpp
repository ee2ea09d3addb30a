#include "profile_values.h"

#include <climits>
#include <cstring>
#include <vector>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsEnclosedInQuotes(std::string_view s) {
    return s.size() >= 2 && s.front() == '"' && s.back() == '"';
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendHexByte(std::string& out, unsigned char byte) {
    out.push_back(kHexDigits[byte >> 4]);
    out.push_back(kHexDigits[byte & 0x0F]);
}

}  // namespace

std::string UnquoteProfileValue(std::string_view stored) {
    if (IsEnclosedInQuotes(stored)) stored = stored.substr(1, stored.size() - 2);
    return std::string(stored);
}

std::string QuoteProfileValue(std::string_view value) {
    bool needsQuotes = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) ||
                                          IsEnclosedInQuotes(value));
    if (!needsQuotes) return std::string(value);
    std::string quoted;
    quoted.reserve(value.size() + 2);
    quoted.append("\"").append(value).append("\"");
    return quoted;
}

int ParseProfileInt(std::string_view value, int fallback) {
    std::size_t pos = 0;
    bool negative = false;
    if (pos < value.size() && (value[pos] == '-' || value[pos] == '+')) {
        negative = value[pos] == '-';
        ++pos;
    }
    if (pos >= value.size() || value[pos] < '0' || value[pos] > '9') return fallback;
    // Accumulate as a magnitude in a wider type and stop growing once past the
    // clamp limit, so any number of digits is safe.
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long magnitude = 0;
    for (; pos < value.size() && value[pos] >= '0' && value[pos] <= '9'; ++pos) {
        if (magnitude <= limit) magnitude = magnitude * 10 + (value[pos] - '0');
    }
    if (magnitude > limit) magnitude = limit;
    return static_cast<int>(negative ? -magnitude : magnitude);
}

std::string EncodeProfileStruct(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string out;
    out.reserve(2 * (size + 1));
    unsigned sum = 0;
    for (std::size_t i = 0; i < size; ++i) {
        AppendHexByte(out, bytes[i]);
        sum += bytes[i];
    }
    AppendHexByte(out, static_cast<unsigned char>(sum & 0xFF));
    return out;
}

bool DecodeProfileStruct(std::string_view stored, void* out, std::size_t size) {
    if (stored.size() != 2 * (size + 1)) return false;
    std::vector<unsigned char> bytes(size + 1);
    for (std::size_t i = 0; i <= size; ++i) {
        int high = HexDigitValue(stored[2 * i]);
        int low = HexDigitValue(stored[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        bytes[i] = static_cast<unsigned char>(high * 16 + low);
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i < size; ++i) sum += bytes[i];
    if ((sum & 0xFF) != bytes[size]) return false;
    if (size > 0) std::memcpy(out, bytes.data(), size);
    return true;
}
