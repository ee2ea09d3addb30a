// The dialogs' text rules: file-name characters, the proposal from a URL, the
// cleaned name, the cut of an over-long box and the number boxes.
#include "file_name_chars.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <random>
#include <string>

namespace {

TEST(IsFileNameCharTest, EveryByte) {
    const std::string refused = "*/<>?|";
    for (int value = 0; value < 256; ++value) {
        const char c = static_cast<char>(value);
        const bool expected = value >= 32 && value <= 126 && refused.find(c) == std::string::npos;
        EXPECT_EQ(IsFileNameChar(c), expected ? 1 : 0) << "byte " << value;
    }
    // The characters a Windows name could not hold but this rule lets through.
    EXPECT_EQ(IsFileNameChar('"'), 1);
    EXPECT_EQ(IsFileNameChar(':'), 1);
    EXPECT_EQ(IsFileNameChar('\\'), 1);
}

struct Proposal {
    const char* url;
    const char* name;
};

TEST(ProposeFileNameTest, TailOfTheUrl) {
    const Proposal cases[] = {
        {"http://host/dir/file.zip", "file.zip"},
        {"http://host/get.php?id=7", "id=7"},
        {"http://host/dir/", ""},
        {"", ""},
        {"file.zip", "file.zip"},  // the walk reaches the start
        {"http://host/a|b", "b"},
        {"http://host/a<b>c", "c"},
        {"http://host/a*b", "b"},
        {"C:\\temp\\x.bin", "x.bin"},  // a backslash stops the walk too
        {"http://host/a:b\"c", "a:b\"c"},
        {"http://host/caf\xC3\xA9.txt", ".txt"},  // a byte above 126 stops it
        {"http://host/x\ty", "y"},
        {"http://host/x y", "x y"},
        {"http://host/#frag", "#frag"},
    };
    for (const Proposal& c : cases) {
        EXPECT_EQ(ProposeFileName(c.url), c.name) << c.url;
    }
}

TEST(CleanFileNameTest, FailingBytesBecomeDashes) {
    const Proposal cases[] = {
        {"", "index.html"},
        {"a*b?c.txt", "a-b-c.txt"},
        {"file.zip", "file.zip"},
        {"dir\\name:x.bin", "dir\\name:x.bin"},  // kept: may leave the save folder
        {"a/b", "a-b"},
        {"<|>", "---"},
        {"caf\xC3\xA9", "caf--"},  // one dash per byte of the character
        {"tab\there", "tab-here"},
        {"del\x7F", "del-"},
        {" ", " "},
        {"say \"hi\".txt", "say -hi-.txt"},  // the list file cannot hold a quote
    };
    for (const Proposal& c : cases) {
        EXPECT_EQ(CleanFileName(c.url), c.name) << c.url;
    }
}

TEST(CutDialogTextTest, NeverSplitsACharacter) {
    EXPECT_EQ(CutDialogText("abcdef", 6), "abcdef");
    EXPECT_EQ(CutDialogText("abcdef", 4), "abcd");
    EXPECT_EQ(CutDialogText("abcdef", 0), "");
    // "\xC3\xA9" is one character: cutting after its first byte drops it whole.
    EXPECT_EQ(CutDialogText("ab\xC3\xA9", 3), "ab");
    EXPECT_EQ(CutDialogText("ab\xC3\xA9z", 4), "ab\xC3\xA9");
    // A four-byte character cut after one, two or three of its bytes.
    const std::string four = "x\xF0\x9F\x98\x80y";
    EXPECT_EQ(CutDialogText(four, 2), "x");
    EXPECT_EQ(CutDialogText(four, 4), "x");
    EXPECT_EQ(CutDialogText(four, 5), "x\xF0\x9F\x98\x80");
    EXPECT_EQ(CutDialogText(std::string(1500, 'u'), kDialogTextMax).size(), 1023u);
    EXPECT_EQ(CutDialogText(std::string("ab\0cd", 5), 10), "ab");
}

TEST(DialogTextLengthTest, CountsCharacters) {
    EXPECT_EQ(DialogTextLength(""), 0u);
    EXPECT_EQ(DialogTextLength("http:/"), 6u);
    EXPECT_EQ(DialogTextLength("h\xC3\xA9\xF0\x9F\x98\x80"), 3u);
}

struct Number {
    const char* text;
    int value;
};

TEST(ReadDialogNumberTest, UnsignedThirtyTwoBitsStoredSigned) {
    const Number cases[] = {
        {"0", 0},
        {"1", 1},
        {"007", 7},
        {"", 0},
        {"   ", 0},
        {"  12  ", 12},
        {"2147483647", 2147483647},
        {"2147483648", INT32_MIN},
        {"4294967295", -1},
        {"4294967296", 0},
        {"99999999999999999999999", 0},
        {"00000000000000000000042", 42},
        {"12a", 0},
        {"a12", 0},
        {"-5", 0},
        {"+5", 0},
        {"1 2", 0},
        {"\t3", 0},
    };
    for (const Number& c : cases) {
        EXPECT_EQ(ReadDialogNumber(c.text), c.value) << '"' << c.text << '"';
    }
}

// A second way of reading a number box, for the fuzz test: trimmed of spaces,
// all digits, and parsed by the standard library with its own overflow check.
int ReferenceNumber(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return 0;
    const std::string digits = text.substr(first, text.find_last_not_of(' ') - first + 1);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return 0;
    }
    unsigned long long value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || value > 0xFFFFFFFFull) {
        return 0;
    }
    return static_cast<int>(static_cast<std::uint32_t>(value));
}

// Hostile input, fixed seed: random bytes, checked against properties and against
// a second way of reading a number.
TEST(DialogTextFuzzTest, PropertiesHoldForRandomBytes) {
    std::mt19937 random(20240601);
    for (int round = 0; round < 20000; ++round) {
        const bool digitsMostly = round % 2 == 0;
        // Digit runs mostly short enough to land around the 32-bit limit.
        std::string text(random() % (digitsMostly ? 14 : 40), '\0');
        // Half the rounds are mostly digits with a few spaces and stray bytes, so the
        // number reading sees near-misses as well as noise.
        for (char& c : text) {
            const unsigned pick = random();
            if (!digitsMostly || pick % 8 == 0) {
                c = static_cast<char>(pick % 256);
            } else if (pick % 8 == 1) {
                c = ' ';
            } else {
                c = static_cast<char>('0' + pick % 10);
            }
        }

        const std::string proposed = ProposeFileName(text);
        ASSERT_LE(proposed.size(), text.size());
        const std::size_t start = text.size() - proposed.size();
        ASSERT_EQ(text.compare(start, std::string::npos, proposed), 0);
        for (char c : proposed) {
            ASSERT_TRUE(IsFileNameChar(c) && c != '\\');
        }
        if (start > 0) {
            const char stop = text[start - 1];
            ASSERT_TRUE(!IsFileNameChar(stop) || stop == '\\');
        }

        const std::string cleaned = CleanFileName(text);
        if (text.empty()) {
            ASSERT_EQ(cleaned, "index.html");
        } else {
            ASSERT_EQ(cleaned.size(), text.size());
            for (std::size_t i = 0; i < text.size(); ++i) {
                const bool kept = IsFileNameChar(text[i]) && text[i] != '"';
                ASSERT_EQ(cleaned[i], kept ? text[i] : '-');
            }
        }

        const std::size_t limit = random() % 45;
        const std::string cut = CutDialogText(text, limit);
        const std::size_t untilNul = std::min(text.find('\0'), text.size());
        ASSERT_LE(cut.size(), limit);
        ASSERT_EQ(text.compare(0, cut.size(), cut), 0);
        ASSERT_GE(cut.size() + 3, std::min(limit, untilNul));
        ASSERT_LE(cut.size(), untilNul);

        ASSERT_EQ(ReadDialogNumber(text), ReferenceNumber(text)) << '"' << text << '"';
    }
}

}  // namespace
