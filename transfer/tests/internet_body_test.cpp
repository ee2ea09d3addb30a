// Pull-style body reads: sizes, framings, the end of the body and its failure.
#include <gtest/gtest.h>

#include <string>

#include "internet_test_util.h"
#include "test_server.h"

namespace brindlex::net {
namespace {

using testing::Handles;
using vtest::Route;
using vtest::TestServer;

struct BodyCase {
    Route::Framing framing;
    std::uint64_t size;
    std::size_t block;
};

void PrintTo(const BodyCase& c, std::ostream* os) {
    *os << c.size << " bytes in blocks of " << c.block;
}

std::string CaseName(const ::testing::TestParamInfo<BodyCase>& info) {
    static const char* const kFraming[] = {"Length", "Close", "Chunked"};
    return std::string(kFraming[static_cast<int>(info.param.framing)]) + "_" +
           std::to_string(info.param.size) + "_by_" + std::to_string(info.param.block);
}

class InternetBody : public ::testing::TestWithParam<BodyCase> {};

TEST_P(InternetBody, ReadsTheWholeBodyInBlocksOfAtMostTheSizeAsked) {
    const BodyCase& c = GetParam();
    TestServer server;
    Route route;
    route.size = c.size;
    route.framing = c.framing;
    server.Set("/body", route);
    Handles h(server.Url("/body"));
    ASSERT_TRUE(HttpSendRequest(h.request, ""));
    std::string body;
    ASSERT_TRUE(h.ReadAll(&body, c.block));
    EXPECT_EQ(body.size(), c.size);
    EXPECT_TRUE(body == vtest::Body(0, c.size));
    // The end of the body stays the end.
    char extra[16];
    std::size_t got = 1;
    EXPECT_TRUE(InternetReadFile(h.request, extra, sizeof extra, &got));
    EXPECT_EQ(got, 0u);
}

constexpr std::uint64_t kMiB = 1024 * 1024;

INSTANTIATE_TEST_SUITE_P(
    Framings, InternetBody,
    ::testing::Values(
        BodyCase{Route::Framing::Length, 0, 256}, BodyCase{Route::Framing::Length, 1, 256},
        BodyCase{Route::Framing::Length, 1000, 7},
        // Larger than the layer's buffer: the transfer pauses and resumes.
        BodyCase{Route::Framing::Length, 3 * kMiB + 17, 256},
        BodyCase{Route::Framing::Length, kMiB, 1000000}, BodyCase{Route::Framing::Close, 0, 256},
        BodyCase{Route::Framing::Close, 1000, 7},
        BodyCase{Route::Framing::Close, 3 * kMiB + 17, 256},
        BodyCase{Route::Framing::Chunked, 0, 256}, BodyCase{Route::Framing::Chunked, 1000, 7},
        BodyCase{Route::Framing::Chunked, 3 * kMiB + 17, 256}),
    CaseName);

TEST(InternetBodyFailure, DroppedConnectionFailsTheReadAfterTheDataBeforeIt) {
    for (const Route::Framing framing : {Route::Framing::Length, Route::Framing::Chunked}) {
        TestServer server;
        Route route;
        route.size = 5000;
        route.framing = framing;
        route.dropAfter = 1000;
        server.Set("/drop", route);
        Handles h(server.Url("/drop"));
        ASSERT_TRUE(HttpSendRequest(h.request, ""));
        std::string body;
        EXPECT_FALSE(h.ReadAll(&body));
        EXPECT_LE(body.size(), 1000u);
        EXPECT_TRUE(body == vtest::Body(0, body.size()));
        // And every read after it.
        char buf[8];
        std::size_t got = 0;
        EXPECT_FALSE(InternetReadFile(h.request, buf, sizeof buf, &got));
        EXPECT_EQ(got, 0u);
    }
}

TEST(InternetBodyFailure, ReadsNeedASentRequestOfTheRightKind) {
    TestServer server;
    server.Set("/b", Route{});
    Handles h(server.Url("/b"));
    char buf[8];
    std::size_t got = 5;
    EXPECT_FALSE(InternetReadFile(h.request, buf, sizeof buf, &got));  // not sent
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(InternetReadFile(h.connection, buf, sizeof buf, &got));
    EXPECT_FALSE(InternetReadFile(nullptr, buf, sizeof buf, &got));
    EXPECT_FALSE(HttpSendRequest(h.session, ""));
    // A request is sent once.
    ASSERT_TRUE(HttpSendRequest(h.request, ""));
    EXPECT_FALSE(HttpSendRequest(h.request, ""));
    EXPECT_EQ(server.Requests().size(), 1u);
}

}  // namespace
}  // namespace brindlex::net
