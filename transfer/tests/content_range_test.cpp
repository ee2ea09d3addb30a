// The Content-Range reader: accepted forms, refused forms, and hostile text.
#include "content_range.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "brindlex/vbrindlex.h"

namespace {

using brindlex::ContentRange;
using brindlex::ParseContentRange;

TEST(ContentRange, AcceptedForms) {
    struct Case {
        const char* text;
        std::uint64_t start, end, total;
    } cases[] = {
        {"bytes 100-999/1000", 100, 999, 1000},
        {"bytes 0-0/1", 0, 0, 1},
        {"BYTES 5-9/*", 5, 9, SIZE_UNKNOWN},
        {"  bytes  7 - 8 / 9 ", 7, 8, 9},
        {"bytes 4294967296-5368709119/5368709120", 4294967296u, 5368709119u, 5368709120u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ContentRange r{};
        ASSERT_TRUE(ParseContentRange(c.text, &r));
        EXPECT_EQ(r.start, c.start);
        EXPECT_EQ(r.end, c.end);
        EXPECT_EQ(r.total, c.total);
    }
}

TEST(ContentRange, RefusedForms) {
    for (const char* text : {"", "bytes", "bytes */*", "bytes */1000", "bytes 5-3/2", "bytes 500/1000",
                             "bytes 500-999", "bytes 0-999/999", "bytes 0-9/0", "items 0-9/10",
                             "bytes0-9/10", "bytes -9/10", "bytes 0-/10", "bytes 0-9/10x",
                             "bytes 99999999999999999999-1/2", "bytes 0-1/18446744073709551616",
                             "bytes 0-1/18446744073709551615"}) {
        SCOPED_TRACE(text);
        ContentRange r{1, 2, 3};
        EXPECT_FALSE(ParseContentRange(text, &r));
        EXPECT_EQ(r.start, 1u);  // untouched on failure
    }
}

// Random and mutated texts never crash, and whatever is accepted is consistent.
TEST(ContentRange, HostileTextIsHandled) {
    std::mt19937 random(20261208);
    const std::string seeds[] = {"bytes 100-999/1000", "bytes 5-9/*", "bytes */*"};
    const std::string alphabet = "bytes 0123456789-/*\t\r\n\x01\xff";
    for (int i = 0; i < 50000; ++i) {
        std::string text = seeds[random() % 3];
        const int edits = 1 + static_cast<int>(random() % 6);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = text.empty() ? 0 : random() % (text.size() + 1);
            const char c = alphabet[random() % alphabet.size()];
            switch (random() % 3) {
                case 0: text.insert(at, 1, c); break;
                case 1: if (at < text.size()) text.erase(at, 1); break;
                default: if (at < text.size()) text[at] = c; break;
            }
        }
        ContentRange r{};
        if (ParseContentRange(text.c_str(), &r)) {
            EXPECT_LE(r.start, r.end) << text;
            if (r.total != SIZE_UNKNOWN) {
                EXPECT_LT(r.end, r.total) << text;
            }
        }
    }
}

}  // namespace
