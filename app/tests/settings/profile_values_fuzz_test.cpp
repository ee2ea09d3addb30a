// Random and mutated values, from a fixed seed, through the readers of the
// settings file's integers and structs ("MaxFiles", "ColWidths"). Run under
// ASan+UBSan this is their sanitizer-checked fuzz run; each reading is also
// checked against a second reading written here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "profile_values.h"

namespace {

constexpr int kCases = 40000;

// The leading number read digit by digit as text: compared with the limits as
// digit strings, so no arithmetic can overflow here.
int ReferenceInt(const std::string& text, int fallback) {
    std::size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) negative = text[pos++] == '-';
    std::string digits;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') digits.push_back(text[pos++]);
    if (digits.empty()) return fallback;
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
    const std::string limit = negative ? "2147483648" : "2147483647";
    if (digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit)) {
        return negative ? INT_MIN : INT_MAX;
    }
    const long long magnitude = digits.empty() ? 0 : std::stoll(digits);
    return static_cast<int>(negative ? -magnitude : magnitude);
}

TEST(ProfileValuesFuzz, IntegersMatchASecondReading) {
    std::mt19937 random(20240922);
    static const char kNumberBytes[] = "0000123456789+- \t";
    for (int i = 0; i < kCases; ++i) {
        std::string text(random() % (i % 2 == 0 ? 14 : 40), '\0');
        for (char& c : text) {
            c = random() % 6 == 0 ? static_cast<char>(random() % 256)
                                  : kNumberBytes[random() % (sizeof kNumberBytes - 1)];
        }
        const int fallback = static_cast<int>(random());
        ASSERT_EQ(ParseProfileInt(text, fallback), ReferenceInt(text, fallback))
            << '"' << text << '"';
    }
}

// What a struct text must be to decode: exactly two hex digits per byte plus two
// for the sum, and the sum right. Decodes into `bytes` when it is.
bool ReferenceStruct(const std::string& text, std::size_t size, std::vector<unsigned char>* bytes) {
    if (text.size() != 2 * (size + 1)) return false;
    bytes->clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        for (char c : {text[i], text[i + 1]}) {
            const std::string upper = "0123456789ABCDEF";
            const std::string lower = "0123456789abcdef";
            std::size_t digit = upper.find(c);
            if (digit == std::string::npos) digit = lower.find(c);
            if (digit == std::string::npos) return false;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        bytes->push_back(static_cast<unsigned char>(value));
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i < size; ++i) sum += (*bytes)[i];
    const bool ok = (sum & 0xFF) == bytes->back();
    bytes->pop_back();
    return ok;
}

TEST(ProfileValuesFuzz, StructsDecodeExactlyWhenWhole) {
    std::mt19937 random(20240923);
    static const char kHexBytes[] = "0123456789ABCDEFabcdefgG \"x";
    int decoded = 0;
    for (int i = 0; i < kCases; ++i) {
        const std::size_t size = random() % 24;
        std::vector<unsigned char> data(size);
        for (auto& b : data) b = static_cast<unsigned char>(random());
        std::string text = EncodeProfileStruct(data.data(), size);
        // Most cases damaged: a digit changed, lower-cased, a character added or
        // dropped, or the size read wrong.
        std::size_t readSize = size;
        const std::size_t at = random() % (text.size() + 1);
        switch (random() % 6) {
            case 0:
                break;
            case 1:
                if (at < text.size()) text[at] = kHexBytes[random() % (sizeof kHexBytes - 1)];
                break;
            case 2:
                for (char& c : text)
                    if (random() % 2) c = static_cast<char>(std::tolower(c));
                break;
            case 3:
                text.insert(at, 1, kHexBytes[random() % (sizeof kHexBytes - 1)]);
                break;
            case 4:
                if (at < text.size()) text.erase(at, 1);
                break;
            default:
                readSize = random() % 24;
                break;
        }
        std::vector<unsigned char> out(readSize + 1, 0xA5);  // one guard byte past the end
        std::vector<unsigned char> want;
        const bool ok = DecodeProfileStruct(text, out.data(), readSize);
        ASSERT_EQ(ok, ReferenceStruct(text, readSize, &want)) << text << " as " << readSize;
        if (ok) {
            ++decoded;
            ASSERT_TRUE(std::equal(want.begin(), want.end(), out.begin())) << text;
        } else {
            for (std::size_t k = 0; k < readSize; ++k)
                ASSERT_EQ(out[k], 0xA5) << text << " touched";
        }
        ASSERT_EQ(out[readSize], 0xA5) << text << ": wrote past the struct";
    }
    EXPECT_GT(decoded, kCases / 6);
}

}  // namespace
