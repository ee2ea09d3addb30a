// Value encodings: quotes, integers, structs.
#include "profile_values.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

TEST(ProfileValuesTest, IntegersAreTheLeadingDecimalNumberOrTheFallback) {
    struct Case {
        const char* text;
        int expected;
    };
    const Case cases[] = {
        {"3", 3},
        {"-3", -3},
        {"+3", 3},
        {"007", 7},
        {"12abc", 12},
        {"4 5", 4},
        {"0x10", 0},
        {"", -99},
        {"abc", -99},
        {"-", -99},
        {"+", -99},
        {"- 3", -99},
        {" 3", -99},  // blanks are gone before parsing; anything else is not a number
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"99999999999999999999999999", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-2147483649", INT_MIN},
        {"-99999999999999999999999999", INT_MIN},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseProfileInt(c.text, -99), c.expected) << c.text;
}

TEST(ProfileValuesTest, QuotingRoundTripsEveryValue) {
    const char* values[] = {"",       "plain",   " lead",     "trail\t", "\"quoted\"", "\"",
                            "\"open", "close\"", "a \"b\" c", "\"\"",    "  "};
    for (const char* value : values) {
        std::string stored = QuoteProfileValue(value);
        EXPECT_EQ(UnquoteProfileValue(stored), value)
            << "[" << value << "] stored as [" << stored << "]";
    }
    // Values that read back by themselves are stored bare.
    EXPECT_EQ(QuoteProfileValue("/home/u/Desktop"), "/home/u/Desktop");
    EXPECT_EQ(QuoteProfileValue("a \"b\" c"), "a \"b\" c");
    // Reading strips exactly one pair.
    EXPECT_EQ(UnquoteProfileValue("\"\"x\"\""), "\"x\"");
    EXPECT_EQ(UnquoteProfileValue("\"x"), "\"x");
}

TEST(ProfileValuesTest, StructsAreUppercaseHexBytesThenTheirSum) {
    const std::int32_t widths[5] = {50, 50, 50, 50, 50};
    // 5 * 50 = 250 = 0xFA.
    EXPECT_EQ(EncodeProfileStruct(widths, sizeof widths),
              "32000000320000003200000032000000320000"
              "00FA");
    const unsigned char bytes[] = {0xAB, 0xCD, 0xEF};
    // 0xAB + 0xCD + 0xEF = 0x267 -> 0x67.
    EXPECT_EQ(EncodeProfileStruct(bytes, 3), "ABCDEF67");
    EXPECT_EQ(EncodeProfileStruct(bytes, 0), "00");

    const std::int32_t odd[5] = {-1, 0, 120, 65536, INT32_MIN};
    std::int32_t back[5] = {};
    ASSERT_TRUE(DecodeProfileStruct(EncodeProfileStruct(odd, sizeof odd), back, sizeof back));
    EXPECT_EQ(std::memcmp(odd, back, sizeof odd), 0);
}

TEST(ProfileValuesTest, BadStructTextFailsAndLeavesTheTargetAlone) {
    struct Case {
        const char* name;
        const char* text;
        bool ok;
    };
    const Case cases[] = {
        {"valid", "ABCDEF67", true},         {"lowercase digits", "abcdef67", true},
        {"wrong sum", "ABCDEF68", false},    {"too short", "ABCDEF6", false},
        {"too long", "ABCDEF6700", false},   {"one byte missing", "ABCD78", false},
        {"bad digit", "ABCDEG67", false},    {"bad digit in the sum", "ABCDEF6G", false},
        {"blank inside", "AB CDEF6", false}, {"empty", "", false},
        {"quoted", "\"ABCDEF67\"", false},
    };
    for (const Case& c : cases) {
        unsigned char out[3] = {1, 2, 3};
        EXPECT_EQ(DecodeProfileStruct(c.text, out, sizeof out), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(out[0], 0xAB) << c.name;
            EXPECT_EQ(out[2], 0xEF) << c.name;
        } else {
            EXPECT_EQ(out[0], 1) << c.name;
            EXPECT_EQ(out[2], 3) << c.name;
        }
    }
}

}  // namespace
