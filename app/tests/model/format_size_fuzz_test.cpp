// Random sizes, from a fixed seed, through FormatSize. Run under ASan+UBSan this
// is its sanitizer-checked fuzz run; the checks also catch wrong texts: every text
// has the shape of the rule, shows a value close to the count, never shrinks as
// the count grows, and below 2^32 matches the rule computed independently.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "job_texts.h"
#include "random_counts.h"

namespace {

constexpr int kSizeCases = 200000;

// The size text as the rule gives it for a 32-bit count: the exact quotient
// printed "%01.3f", its first four characters (three when the fourth is the
// point), then the unit. A double holds every such quotient exactly.
std::string ReferenceSize32(std::uint32_t bytes) {
    double value = bytes;
    const char* unit = "b";
    if (bytes >= 1048576u) {
        value = bytes / 1048576.0;
        unit = "Mb";
    } else if (bytes >= 1024u) {
        value = bytes / 1024.0;
        unit = "K";
    }
    char printed[64];
    std::snprintf(printed, sizeof printed, "%01.3f", value);
    return std::string(printed, printed[3] == '.' ? 3 : 4) + unit;
}

// Bytes per unit of a size text's unit; 0 for a unit that does not exist.
long double UnitBytes(const std::string& unit) {
    static const char* const kUnits[] = {"b", "K", "Mb", "Gb", "Tb", "Pb", "Eb"};
    for (int i = 0; i < 7; ++i) {
        if (unit == kUnits[i]) return static_cast<long double>(std::uint64_t{1} << (10 * i));
    }
    return 0;
}

// Splits a size text into its number and unit and checks the shape every text has:
// three or four characters of digits and at most one point, never ending in the
// point, and a point only in four-character numbers. Returns the value in bytes.
long double CheckSizeText(const std::string& text, std::uint64_t bytes) {
    const std::size_t digitsEnd = text.find_first_not_of("0123456789.");
    EXPECT_NE(digitsEnd, std::string::npos) << bytes << " -> " << text;
    const std::string number = text.substr(0, digitsEnd);
    const std::string unit = text.substr(digitsEnd == std::string::npos ? text.size() : digitsEnd);
    EXPECT_TRUE(number.size() == 3 || number.size() == 4) << bytes << " -> " << text;
    EXPECT_LE(std::count(number.begin(), number.end(), '.'), 1) << bytes << " -> " << text;
    EXPECT_NE(number.back(), '.') << bytes << " -> " << text;
    EXPECT_NE(number.front(), '.') << bytes << " -> " << text;
    if (number.find('.') != std::string::npos) {
        EXPECT_EQ(number.size(), 4u) << bytes << " -> " << text;
    }
    EXPECT_GT(UnitBytes(unit), 0) << bytes << " -> " << text;
    EXPECT_LE(text.size(), 6u) << bytes << " -> " << text;
    // Each unit serves counts from one of it up to 1024 of it (reached by rounding
    // up just below the next unit); bytes go up to 1023, and "Mb" on to 4096 to
    // keep the 32-bit texts.
    const long double value = std::strtold(number.c_str(), nullptr);
    if (unit != "b") {
        EXPECT_GE(value, 1.0L) << bytes << " -> " << text;
    }
    const long double most = unit == "b" ? 1023.0L : unit == "Mb" ? 4096.0L : 1024.0L;
    EXPECT_LE(value, most) << bytes << " -> " << text;
    return value * UnitBytes(unit);
}

// The shown number is the printed quotient (rounded to three decimals) cut to
// four characters, so it lies at most one unit of its last digit below the exact
// quotient, and at most half a thousandth above it.
void CheckCloseToTheCount(const std::string& text, std::uint64_t bytes, long double shown) {
    const std::size_t point = text.find('.');
    const std::size_t digitsEnd = text.find_first_not_of("0123456789.");
    const long double lastDigit = point == std::string::npos ? 1.0L
                                  : point == 1               ? 0.01L
                                  : point == 2               ? 0.1L
                                                             : 1.0L;
    const long double unit = UnitBytes(text.substr(digitsEnd));
    const long double exact = static_cast<long double>(bytes) / unit;
    const long double number = shown / unit;
    // A hair more than half a thousandth: the bounds are met exactly at ties.
    EXPECT_LE(number - 0.00051L, exact) << bytes << " -> " << text;
    EXPECT_LT(exact, number + lastDigit + 0.00051L) << bytes << " -> " << text;
}

TEST(FormatSizeFuzz, ShapeValueAndReference) {
    modeltest::RandomCounts counts(20240917);
    std::vector<std::uint64_t> sample;
    for (int i = 0; i < kSizeCases; ++i) {
        std::uint64_t bytes = counts.Next();
        if (i % 2 == 0) bytes &= 0xFFFFFFFFu;  // half within the historic 32 bits
        char out[64];
        std::memset(out, 'X', sizeof out);
        ASSERT_EQ(FormatSize(out, bytes), out);
        ASSERT_NE(std::memchr(out, '\0', 8), nullptr) << bytes << ": more than 7 characters";
        ASSERT_EQ(std::count(out + 8, out + sizeof out, 'X'), 56)
            << bytes << ": wrote past 8 bytes";
        const std::string text = out;
        if (bytes <= 0xFFFFFFFFu) {
            ASSERT_EQ(text, ReferenceSize32(static_cast<std::uint32_t>(bytes))) << bytes;
        }
        const long double shown = CheckSizeText(text, bytes);
        CheckCloseToTheCount(text, bytes, shown);
        if (::testing::Test::HasFailure()) return;
        if (i % 50 == 0) sample.push_back(bytes);
    }
    // A larger count never shows a smaller size, across every change of unit.
    std::sort(sample.begin(), sample.end());
    long double previous = -1;
    for (std::uint64_t bytes : sample) {
        char out[64];
        const long double shown = CheckSizeText(FormatSize(out, bytes), bytes);
        ASSERT_GE(shown, previous) << bytes << " -> " << out;
        previous = shown;
    }
}

}  // namespace
