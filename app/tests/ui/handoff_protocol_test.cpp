// The hand-off's bytes: what a batch may hold, what a reader skips, and where
// it stops taking them.
#include "handoff_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using State = HandoffBatchReader::State;

TEST(HandoffProtocolTest, BatchesAreReadWholeWithUnknownFieldsSkipped) {
    const std::string greeting(kHandoffGreeting, sizeof kHandoffGreeting);
    const std::string batch =
        EncodeHandoffBatch(EncodeHandedDownload("http://a/1") + EncodeHandedDownload("http://b/2"));
    struct Case {
        const char* what;
        std::string bytes;
        State state;
        std::vector<std::string> urls;
    };
    const Case cases[] = {
        {"two", batch, State::kDone, {"http://a/1", "http://b/2"}},
        {"unfinished",
         batch.substr(0, batch.size() - 1),
         State::kMore,
         {"http://a/1", "http://b/2"}},
        // A later sender's fields: skipped, in any order; a download without a URL stays.
        {"later fields",
         greeting + "referer=http://r/\0url=http://a/1\0cookie=k=v\0\0user-agent=x\0\0\0"s,
         State::kDone,
         {"http://a/1", ""}},
        {"empty batch", EncodeHandoffBatch(""), State::kDone, {}},
        {"no greeting", "url=http://a/1\0\0\0"s, State::kBroken, {}},
        {"bytes after the end", batch + "x", State::kBroken, {"http://a/1", "http://b/2"}},
        {"over the limit", greeting + std::string(kMaxHandoffBatchBytes, 'u'), State::kBroken, {}},
    };
    for (const Case& c : cases) {
        HandoffBatchReader reader;
        // Byte by byte for the short ones: records may arrive in any pieces.
        if (c.bytes.size() < 1000) {
            for (char byte : c.bytes) reader.Feed(std::string_view(&byte, 1));
        } else {
            reader.Feed(c.bytes);
        }
        EXPECT_EQ(reader.state(), c.state) << c.what;
        std::vector<std::string> urls;
        for (const HandedDownload& download : reader.downloads()) urls.push_back(download.url);
        if (c.state != State::kBroken) {
            EXPECT_EQ(urls, c.urls) << c.what;
        }
    }
}

TEST(HandoffProtocolTest, ACaughtDownloadKeepsTheBrowsersFields) {
    HandedDownload caught{.url = "http://a/f.bin",
                          .referer = "http://a/page",
                          .agent = "Browser/1.0",
                          .fileName = "f.bin",
                          .cookies = {"a\tFALSE\t/\tFALSE\t0\ts\t1", "a\tTRUE\t/\tTRUE\t9\tt\t2"}};
    HandoffBatchReader reader;
    reader.Feed(
        EncodeHandoffBatch(EncodeHandedDownload(caught) + EncodeHandedDownload("http://b")));
    ASSERT_EQ(reader.state(), State::kDone);
    ASSERT_EQ(reader.downloads().size(), 2u);
    const HandedDownload& got = reader.downloads()[0];
    EXPECT_EQ(got.url, caught.url);
    EXPECT_EQ(got.referer, caught.referer);
    EXPECT_EQ(got.agent, caught.agent);
    EXPECT_EQ(got.fileName, caught.fileName);
    EXPECT_EQ(got.cookies, caught.cookies);
    EXPECT_TRUE(reader.downloads()[1].cookies.empty());
}

TEST(HandoffProtocolTest, AnswersAreReadInOrderAndBounded) {
    HandoffAnswerReader reader;
    const std::string answers = EncodeHandoffAnswer("") + EncodeHandoffAnswer("too short") +
                                EncodeHandoffAnswer(std::string(1000, 'r'));
    EXPECT_TRUE(reader.Feed(answers));
    ASSERT_EQ(reader.answers().size(), 3u);
    EXPECT_EQ(reader.answers()[0], "");
    EXPECT_EQ(reader.answers()[1], "too short");
    EXPECT_EQ(reader.answers()[2].size(), kMaxAnswerRecordBytes - 9);  // "refused " and NUL

    HandoffAnswerReader endless;
    EXPECT_FALSE(endless.Feed(std::string(kMaxAnswerRecordBytes, 'q')));
    HandoffAnswerReader strange;
    EXPECT_FALSE(strange.Feed("maybe\0"s));
    EXPECT_TRUE(strange.answers().empty());
}

}  // namespace
