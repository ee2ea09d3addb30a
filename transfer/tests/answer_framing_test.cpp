// Answers whose length or headers cannot be trusted: odd Content-Length values,
// more body than announced, header lines near and past libcurl's limits, and
// partial answers without a readable range. None may leave a file that is called
// done but is not the resource, nor write bytes at the wrong offset.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "brindlex/vbrindlex.h"
#include "temp_dir.h"
#include "test_server.h"

using vtest::Body;
using vtest::ReadWholeFile;
using vtest::Route;
using vtest::TestServer;
using vtest::WriteWholeFile;

namespace {

struct Outcome {
    unsigned long result;
    std::uint64_t fileLength;  // the file always holds Body(0, fileLength)
};

// Runs a fresh object against `route` over a file that holds the first
// `partial` bytes of the resource.
Outcome Fetch(const Route& route, std::uint64_t partial = 0) {
    TestServer server;
    server.Set("/f", route);
    vtest::TempDir dir;
    const std::string out = dir / "out", url = server.Url("/f");
    WriteWholeFile(out, Body(0, partial));
    VBRINDLEX t;
    t.SetURL(url.c_str());
    t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(out.c_str()));
    const unsigned long result = t.Go();
    const std::string bytes = ReadWholeFile(out);
    EXPECT_EQ(bytes, Body(0, bytes.size())) << "the file holds bytes of the wrong offset";
    if (result == RESULT_OK) {
        EXPECT_EQ(t.status.load(), STATUS_DONE);
        EXPECT_EQ(t.received.load(), bytes.size());
        EXPECT_EQ(t.totalSize.load(), bytes.size());
    }
    return {result, bytes.size()};
}

// A length that is not one plain number below 2^63 leaves no way to tell a whole
// body from a cut one, so the answer is refused (9) and the partial file stays.
// libcurl alone would take "12abc" as 12 and call a 12-byte file done.
TEST(ContentLength, ThatIsNotOneNumberIsRefused) {
    const struct {
        const char* value;
        std::vector<std::string> moreLines;
        Outcome expected;
    } cases[] = {
        {"abc", {}, {RESULT_BAD_SEND_REQUEST, 300}},
        {"12abc", {}, {RESULT_BAD_SEND_REQUEST, 300}},
        {"1e3", {}, {RESULT_BAD_SEND_REQUEST, 300}},
        {"-5", {}, {RESULT_BAD_SEND_REQUEST, 300}},
        {"+1000", {}, {RESULT_BAD_SEND_REQUEST, 300}},
        {"9223372036854775808", {}, {RESULT_BAD_SEND_REQUEST, 300}},   // 2^63
        {"18446744073709551615", {}, {RESULT_BAD_SEND_REQUEST, 300}},  // 2^64 - 1
        {"18446744073709551616", {}, {RESULT_BAD_SEND_REQUEST, 300}},  // 2^64
        {"99999999999999999999999999", {}, {RESULT_BAD_SEND_REQUEST, 300}},
        {"1000, 2000", {}, {RESULT_BAD_SEND_REQUEST, 300}},
        {"1000", {"Content-Length: 700"}, {RESULT_BAD_SEND_REQUEST, 300}},
        // Repeats of one number are that number.
        {"1000, 1000", {}, {RESULT_OK, 1000}},
        {"1000", {"Content-Length: 1000"}, {RESULT_OK, 1000}},
        {"001000", {}, {RESULT_OK, 1000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        // No byte ranges: a whole answer, so the length alone frames the body.
        const Outcome got = Fetch(Route{.size = 1000,
                                        .acceptRanges = false,
                                        .contentLength = c.value,
                                        .framing = Route::Framing::Close,
                                        .extraHeaders = c.moreLines},
                                  300);
        EXPECT_EQ(got.result, c.expected.result);
        EXPECT_EQ(got.fileLength, c.expected.fileLength);
    }
}

// libcurl reads no further than the announced length, and a chunked body's own
// framing overrides any Content-Length.
TEST(ContentLength, BodyLongerOrShorterThanAnnounced) {
    const struct {
        const char* name;
        Route route;
        std::uint64_t partial;
        Outcome expected;
    } cases[] = {
        {"more body than announced",
         Route{.size = 1000, .contentLength = "600"},
         0,
         {RESULT_OK, 600}},
        // Content-Range 300-999/1000 with a length of 200: the range is not filled.
        {"resumed answer shorter than its range",
         Route{.size = 1000, .contentLength = "200"},
         300,
         {RESULT_DROPPED, 500}},
        {"chunked with a smaller length",
         Route{.size = 1000, .contentLength = "600", .framing = Route::Framing::Chunked},
         0,
         {RESULT_OK, 1000}},
        {"chunked with a larger length",
         Route{.size = 1000, .contentLength = "5000", .framing = Route::Framing::Chunked},
         0,
         {RESULT_OK, 1000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome got = Fetch(c.route, c.partial);
        EXPECT_EQ(got.result, c.expected.result);
        EXPECT_EQ(got.fileLength, c.expected.fileLength);
    }
}

// libcurl takes a header line of up to 100 KiB (and 300 KiB of headers in all);
// a longer one fails the send. A value too long for the fetch's 2048-byte header
// buffer counts as unreadable, never as absent where that would misplace bytes.
TEST(HeaderLines, LongLinesHaveDefinedOutcomes) {
    const std::string filler(100000 - 7, 'y');  // "X-Big: " + filler: 100 000 bytes
    const struct {
        const char* name;
        std::vector<std::string> lines;
        Outcome expected;
    } cases[] = {
        {"100 000-byte line", {"X-Big: " + filler}, {RESULT_OK, 1000}},
        {"line past libcurl's limit",
         {"X-Big: " + filler + std::string(5000, 'y')},
         {RESULT_BAD_SEND_REQUEST, 500}},
        {"headers past libcurl's total",
         {"X-A: " + filler, "X-B: " + filler, "X-C: " + filler, "X-D: " + filler},
         {RESULT_BAD_SEND_REQUEST, 500}},
        // Unreadable Accept-Ranges is not an absent one: the attempt ends, the file as it was.
        {"long Accept-Ranges", {"Accept-Ranges: " + filler + " bytes"}, {RESULT_DROPPED, 500}},
        // An unreadable range must not be written as if it were the whole resource.
        {"long Content-Range",
         {"Content-Range: bytes 500-999/1000" + std::string(5000, ' ') + "x"},
         {RESULT_DROPPED, 500}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Ranges are not advertised by the route itself: the lines above decide.
        const Outcome got =
            Fetch(Route{.size = 1000, .acceptRanges = false, .extraHeaders = c.lines}, 500);
        EXPECT_EQ(got.result, c.expected.result);
        EXPECT_EQ(got.fileLength, c.expected.fileLength);
    }
}

// An answer that ends before its first byte says nothing about the bytes held,
// whether it answers a range or claims to be the whole resource: the attempt
// fails and the partial file stays. Only with no partial file is an empty answer
// an empty download.
TEST(EmptyAnswer, KeepsThePartialFile) {
    const Route::Framing close = Route::Framing::Close, chunked = Route::Framing::Chunked;
    const struct {
        const char* name;
        Route route;
        std::uint64_t partial;
        unsigned long result;
    } cases[] = {
        {"204", Route{.status = 204, .acceptRanges = false}, 500, RESULT_DROPPED},
        {"200 with length 0", Route{.acceptRanges = false}, 500, RESULT_DROPPED},
        {"200 with length 0 and ranges",
         Route{.acceptRanges = false, .extraHeaders = {"Accept-Ranges: bytes"}}, 500,
         RESULT_DROPPED},
        {"200 without length, closed at once", Route{.acceptRanges = false, .framing = close}, 500,
         RESULT_DROPPED},
        {"200 chunked, empty", Route{.acceptRanges = false, .framing = chunked}, 500,
         RESULT_DROPPED},
        {"200 of 1000 bytes, cut before the first",
         Route{.size = 1000, .acceptRanges = false, .dropAfter = 0}, 500, RESULT_DROPPED},
        {"200 without length over no file", Route{.acceptRanges = false, .framing = close}, 0,
         RESULT_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome got = Fetch(c.route, c.partial);
        EXPECT_EQ(got.result, c.result);
        EXPECT_EQ(got.fileLength, c.partial);
    }
}

// A 206 without Content-Range gives no place for its bytes. Taken as the whole
// resource it would be written over the head of the file, or, as long as the
// file, end as done at once with half the resource.
TEST(PartialAnswer, WithoutARangeIsRefused) {
    const auto partialAnswer = [](std::uint64_t from, std::uint64_t length) {
        return "HTTP/1.1 206 Partial Content\r\nAccept-Ranges: bytes\r\nContent-Length: " +
               std::to_string(length) + "\r\nConnection: close\r\n\r\n" + Body(from, length);
    };
    for (std::uint64_t from : {500u, 300u}) {
        SCOPED_TRACE(from);
        const Outcome got = Fetch(Route{.raw = partialAnswer(from, 1000 - from)}, 500);
        EXPECT_EQ(got.result, RESULT_DROPPED);
        EXPECT_EQ(got.fileLength, 500u);
    }
}

}  // namespace
