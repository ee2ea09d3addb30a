// Ranged answers: the body is written where the server says it starts, or not at all.
#include <gtest/gtest.h>

#include <string>

#include "brindlex/vbrindlex.h"
#include "temp_dir.h"
#include "test_server.h"

using vtest::Body;
using vtest::ReadWholeFile;
using vtest::Route;
using vtest::TestServer;
using vtest::WriteWholeFile;

namespace {

struct RangeCase {
    const char* name;
    std::uint64_t partial;         // bytes of the resource already in the file
    bool advertiseRanges;          // Accept-Ranges: bytes
    std::string contentRange;      // value the server sends
    std::uint64_t bodyOffset;      // where the body it sends starts
    unsigned long expectedResult;
    std::uint64_t expectedLength;  // of the file afterwards; it always holds Body(0, n)
};

class RangeAnswerTest : public ::testing::TestWithParam<RangeCase> {};

TEST_P(RangeAnswerTest, FileHoldsOnlyCorrectlyPlacedBytes) {
    const RangeCase& c = GetParam();
    vtest::TempDir dir;
    TestServer server;
    server.Set("/f", Route{.size = 1000,
                           .acceptRanges = false,
                           .contentRange = c.contentRange,
                           .bodyOffset = c.bodyOffset,
                           .extraHeaders = c.advertiseRanges
                                               ? std::vector<std::string>{"Accept-Ranges: bytes"}
                                               : std::vector<std::string>{}});
    const std::string out = dir / "out";
    WriteWholeFile(out, Body(0, c.partial));
    const std::string url = server.Url("/f");
    VBRINDLEX t;
    t.SetURL(url.c_str());
    t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(out.c_str()));

    EXPECT_EQ(t.Go(), c.expectedResult);
    EXPECT_EQ(ReadWholeFile(out), Body(0, c.expectedLength));
    if (c.expectedResult == RESULT_OK) {
        EXPECT_EQ(t.received.load(), c.expectedLength);
        // A range placed where it belongs proves that ranges work, with or without
        // Accept-Ranges: the next attempt asks for one again.
        EXPECT_FALSE(t.GetFlags() & FLAG_NO_RANGE);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, RangeAnswerTest,
    ::testing::Values(
        RangeCase{"continuation", 500, true, "bytes 500-999/1000", 500, RESULT_OK, 1000},
        RangeCase{"starts_below_the_file_end", 500, true, "bytes 300-999/1000", 300, RESULT_OK, 1000},
        RangeCase{"starts_past_the_file_end", 500, true, "bytes 800-999/1000", 800, RESULT_DROPPED, 500},
        // Without Accept-Ranges the body still goes to its range start, not over the head.
        RangeCase{"no_accept_ranges", 500, false, "bytes 500-999/1000", 500, RESULT_OK, 1000},
        RangeCase{"unknown_total", 500, true, "bytes 500-999/*", 500, RESULT_OK, 1000},
        RangeCase{"star_star", 500, true, "bytes */*", 500, RESULT_DROPPED, 500},
        RangeCase{"end_before_start", 500, true, "bytes 5-3/2", 500, RESULT_DROPPED, 500},
        RangeCase{"no_dash", 500, true, "bytes 500/1000", 500, RESULT_DROPPED, 500},
        RangeCase{"no_slash", 500, true, "bytes 500-999", 500, RESULT_DROPPED, 500},
        RangeCase{"end_past_total", 500, true, "bytes 500-1999/1000", 500, RESULT_DROPPED, 500}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RangeRequest, WholeAnswerToARangeRequestRewritesFromTheStart) {
    for (auto framing : {Route::Framing::Length, Route::Framing::Close}) {
        SCOPED_TRACE(static_cast<int>(framing));
        vtest::TempDir dir;
        TestServer server;
        // Advertises ranges but ignores the Range line: a plain 200 with the whole body.
        server.Set("/f", Route{.size = 1000,
                               .acceptRanges = false,
                               .framing = framing,
                               .extraHeaders = {"Accept-Ranges: bytes"}});
        const std::string out = dir / "out";
        WriteWholeFile(out, Body(0, 500) + std::string(700, 'x'));
        const std::string url = server.Url("/f");
        VBRINDLEX t;
        t.SetURL(url.c_str());
        t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(out.c_str()));
        EXPECT_EQ(t.Go(), RESULT_OK);
        EXPECT_EQ(ReadWholeFile(out), Body(0, 1000));
    }
}

}  // namespace
