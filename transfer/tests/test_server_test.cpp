// Checks of the scripted test server itself, driven by plain libcurl on 127.0.0.1.
#include "test_server.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <strings.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace {

using vtest::Body;
using vtest::Route;
using vtest::TestServer;

struct Reply {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // of the last answer only
    std::atomic<std::size_t>* progress = nullptr;  // body bytes so far, for another thread

    std::string Header(const char* name) const {
        for (const auto& [key, value] : headers) {
            if (strcasecmp(key.c_str(), name) == 0) return value;
        }
        return "<none>";
    }
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* reply) {
    auto* r = static_cast<Reply*>(reply);
    r->body.append(data, size * count);
    if (r->progress != nullptr) r->progress->store(r->body.size());
    return size * count;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* reply = static_cast<Reply*>(user);
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.rfind("HTTP/", 0) == 0) {
        reply->headers.clear();  // a new answer (a redirect hop ended)
    } else if (const auto colon = line.find(':'); colon != std::string::npos) {
        const auto start = line.find_first_not_of(' ', colon + 1);
        reply->headers.emplace_back(line.substr(0, colon),
                                    start == std::string::npos ? "" : line.substr(start));
    }
    return size * count;
}

// One GET with libcurl; `setup` adds options. The generous time limit only keeps
// a broken server from hanging the test program.
Reply Fetch(const std::string& url, const std::function<void(CURL*)>& setup = {},
            std::atomic<std::size_t>* progress = nullptr) {
    Reply reply;
    reply.progress = progress;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 30000L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply);
    if (setup) setup(curl);
    reply.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_easy_cleanup(curl);
    return reply;
}

Reply FetchWithHeader(const std::string& url, const char* header) {
    curl_slist* list = curl_slist_append(nullptr, header);
    Reply reply = Fetch(url, [&](CURL* curl) { curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list); });
    curl_slist_free_all(list);
    return reply;
}

// Waits (bounded) for something another thread brings about.
bool Eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 10000 && !condition(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

class CurlEnvironment : public ::testing::Environment {
public:
    void SetUp() override { curl_global_init(CURL_GLOBAL_DEFAULT); }
    void TearDown() override { curl_global_cleanup(); }
};
const auto* const curlEnvironment = ::testing::AddGlobalTestEnvironment(new CurlEnvironment);

TEST(TestServerBody, FillBodyAgreesWithBodyByteAtAnyOffset) {
    for (const std::uint64_t offset : {0ull, 1ull, 255ull, 256ull, 65535ull, (5ull << 30) + 3}) {
        const std::string body = Body(offset, 70000);
        for (std::size_t i = 0; i < body.size(); i += 97) {
            ASSERT_EQ(body[i], vtest::BodyByte(offset + i)) << "offset " << offset << " + " << i;
        }
    }
}

TEST(TestServerBody, HasNoShortPeriod) {
    // A resume written at a wrong offset must show: shifted copies hardly ever agree.
    const std::string base = Body(0, 1 << 16);
    for (const std::uint64_t shift : {1ull, 2ull, 255ull, 256ull, 512ull, 4096ull, 65536ull}) {
        const std::string shifted = Body(shift, base.size());
        std::size_t same = 0;
        for (std::size_t i = 0; i < base.size(); ++i) same += base[i] == shifted[i];
        EXPECT_LT(same, base.size() / 64) << "shift " << shift;
    }
}

struct RangeCase {
    const char* name;
    bool acceptRanges;
    bool rangeWithoutAcceptRanges;
    const char* rangeHeader;  // null: no Range header
    long status;
    const char* contentRange;  // "<none>" when absent
    std::uint64_t bodyStart, bodyLength;
};

TEST(TestServer, AnswersRangeRequestsAsScripted) {
    const RangeCase cases[] = {
        {"whole", true, false, nullptr, 200, "<none>", 0, 1000},
        {"open range", true, false, "Range: bytes=500-", 206, "bytes 500-999/1000", 500, 500},
        {"closed range", true, false, "Range: bytes=100-199", 206, "bytes 100-199/1000", 100, 100},
        {"start at end", true, false, "Range: bytes=1000-", 416, "bytes */1000", 0, 0},
        {"ranges off", false, false, "Range: bytes=500-", 200, "<none>", 0, 1000},
        {"range unannounced", false, true, "Range: bytes=500-", 206, "bytes 500-999/1000", 500,
         500},
    };
    TestServer server;
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        Route route;
        route.size = 1000;
        route.acceptRanges = c.acceptRanges;
        route.rangeWithoutAcceptRanges = c.rangeWithoutAcceptRanges;
        server.Set("/file", route);
        const Reply reply = c.rangeHeader ? FetchWithHeader(server.Url("/file"), c.rangeHeader)
                                          : Fetch(server.Url("/file"));
        EXPECT_EQ(reply.code, CURLE_OK);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.Header("Content-Range"), c.contentRange);
        EXPECT_EQ(reply.Header("Accept-Ranges"), c.acceptRanges ? "bytes" : "<none>");
        EXPECT_EQ(reply.body, Body(c.bodyStart, c.bodyLength));
    }
}

TEST(TestServer, SendsForcedContentRangeAndLengthHeaders) {
    TestServer server;
    Route forced;
    forced.status = 206;
    forced.size = 1000;
    forced.contentRange = "bytes 300-999/1000";
    forced.bodyOffset = 300;
    server.Set("/forced", forced);
    Route longer;
    longer.size = 1000;
    longer.contentLength = "5000000000";
    server.Set("/longer", longer);
    Route unannounced;
    unannounced.size = 1000;
    unannounced.contentLength = "";
    server.Set("/unannounced", unannounced);

    const Reply a = Fetch(server.Url("/forced"));
    EXPECT_EQ(a.status, 206);
    EXPECT_EQ(a.Header("Content-Range"), "bytes 300-999/1000");
    EXPECT_EQ(a.body, Body(300, 700));
    const Reply b = Fetch(server.Url("/longer"));
    EXPECT_EQ(b.code, CURLE_PARTIAL_FILE);
    EXPECT_EQ(b.Header("Content-Length"), "5000000000");
    EXPECT_EQ(b.body, Body(0, 1000));
    const Reply c = Fetch(server.Url("/unannounced"));
    EXPECT_EQ(c.code, CURLE_OK);
    EXPECT_EQ(c.Header("Content-Length"), "<none>");
    EXPECT_EQ(c.body, Body(0, 1000));
}

struct FramingCase {
    Route::Framing framing;
    const char* contentLength;
    const char* transferEncoding;
};

const FramingCase kFramings[] = {
    {Route::Framing::Length, "300000", "<none>"},
    {Route::Framing::Close, "<none>", "<none>"},
    {Route::Framing::Chunked, "<none>", "chunked"},
};

TEST(TestServer, FramesGeneratedAndExplicitBodies) {
    for (const bool https : {false, true}) {
        TestServer server(https ? TestServer::Mode::Https : TestServer::Mode::Http);
        const std::string explicitBody = std::string(300000, 'x') + "end";
        for (const FramingCase& c : kFramings) {
            SCOPED_TRACE(testing::Message() << "framing " << int(c.framing) << " https " << https);
            server.Set("/gen", Route{.size = 300000, .framing = c.framing});
            server.Set("/text", Route{.body = explicitBody, .framing = c.framing});
            const auto trust = [&](CURL* curl) {
                curl_easy_setopt(curl, CURLOPT_CAINFO, server.CaFile().c_str());
            };
            const Reply generated = Fetch(server.Url("/gen"), trust);
            EXPECT_EQ(generated.code, CURLE_OK);
            EXPECT_EQ(generated.Header("Content-Length"), c.contentLength);
            EXPECT_EQ(generated.Header("Transfer-Encoding"), c.transferEncoding);
            EXPECT_TRUE(generated.body == Body(0, 300000));
            const Reply text = Fetch(server.Url("/text"), trust);
            EXPECT_EQ(text.code, CURLE_OK);
            EXPECT_TRUE(text.body == explicitBody);
        }
    }
}

TEST(TestServer, DropsAndStallsAfterTheScriptedByteCount) {
    TestServer server;
    for (const FramingCase& c : kFramings) {
        SCOPED_TRACE(testing::Message() << "framing " << int(c.framing));
        server.Set("/drop", Route{.size = 300000, .framing = c.framing, .dropAfter = 100000});
        server.Set("/stall", Route{.size = 300000, .framing = c.framing, .stallAfter = 70000});
        const Reply dropped = Fetch(server.Url("/drop"));
        // Without a length the client cannot tell a drop from the body's end.
        if (c.framing != Route::Framing::Close) {
            EXPECT_NE(dropped.code, CURLE_OK);
        }
        EXPECT_TRUE(dropped.body == Body(0, 100000));

        // A stall keeps the connection open and silent: nothing more arrives and
        // the answer does not end until the server lets go.
        std::atomic<std::size_t> progress{0};
        std::atomic<bool> ended{false};
        Reply stalled;
        std::thread client([&] {
            stalled = Fetch(server.Url("/stall"), {}, &progress);
            ended = true;
        });
        EXPECT_TRUE(Eventually([&] { return progress.load() == 70000; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(ended.load());
        server.DropAll();
        client.join();
        EXPECT_TRUE(stalled.body == Body(0, 70000));
    }
}

TEST(TestServer, RecordsRequestsAndFollowsScripts) {
    TestServer server;
    server.Set("/old", Route{.status = 302, .location = "/new?x=1"});
    server.Set("/new", Route{.size = 64,
                             .lastModified = "Wed, 21 Oct 2015 07:28:00 GMT",
                             .extraHeaders = {"X-Test: one", "X-Other: two"}});
    const Reply moved = FetchWithHeader(server.Url("/old#frag"), "X-Client: hello");
    EXPECT_EQ(moved.status, 302);
    EXPECT_EQ(moved.Header("Location"), "/new?x=1");

    const Reply followed = Fetch(
        server.Url("/old"), [](CURL* curl) { curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L); });
    EXPECT_EQ(followed.status, 200);
    EXPECT_EQ(followed.body, Body(0, 64));
    EXPECT_EQ(followed.Header("Last-Modified"), "Wed, 21 Oct 2015 07:28:00 GMT");
    EXPECT_EQ(followed.Header("X-Other"), "two");

    const Reply missing = Fetch(server.Url("/nowhere"));
    EXPECT_EQ(missing.status, 404);
    EXPECT_FALSE(missing.body.empty());

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/old");  // curl keeps a fragment to itself
    EXPECT_EQ(requests[0].version, "HTTP/1.1");
    EXPECT_EQ(requests[0].Header("x-client"), "hello");
    ASSERT_GE(requests[0].headers.size(), 2u);
    EXPECT_EQ(requests[0].headers[0].first, "Host");
    EXPECT_EQ(requests[2].target, "/new?x=1");
    EXPECT_FALSE(requests[2].HasHeader("X-Client"));
    EXPECT_EQ(server.RequestsFor("/old").size(), 2u);
    EXPECT_EQ(server.RequestsFor("/new").size(), 1u);
}

TEST(TestServer, ServesSequencesRawAnswersAndRateLimitedBodies) {
    TestServer server;
    server.SetSequence("/flaky", {Route{.status = 503}, Route{.status = 500}, Route{.size = 10}});
    server.Set("/raw", Route{.raw = "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nX-Raw: 1\r\n\r\nabc"});
    server.Set("/slow", Route{.size = 20000, .bytesPerSecond = 400000});
    for (const long expected : {503L, 500L, 200L, 200L}) {
        EXPECT_EQ(Fetch(server.Url("/flaky")).status, expected);
    }
    const Reply raw = Fetch(server.Url("/raw"));
    EXPECT_EQ(raw.Header("X-Raw"), "1");
    EXPECT_EQ(raw.body, "abc");
    EXPECT_TRUE(Fetch(server.Url("/slow")).body == Body(0, 20000));
}

TEST(TestServer, ServesManyClientsAtOnce) {
    TestServer server;
    server.Set("/big", Route{.size = 1 << 18});
    const std::string expected = Body(0, 1 << 18);
    std::vector<std::thread> clients;
    std::atomic<int> good{0};
    for (int i = 0; i < 16; ++i) {
        clients.emplace_back([&] {
            for (int j = 0; j < 4; ++j) {
                const Reply reply = Fetch(server.Url("/big?client"));
                good += reply.code == CURLE_OK && reply.body == expected;
            }
        });
    }
    for (std::thread& client : clients) client.join();
    EXPECT_EQ(good.load(), 64);
    EXPECT_EQ(server.AcceptedConnections(), 64u);
    EXPECT_EQ(server.RequestsFor("/big").size(), 64u);
}

TEST(TestServer, HttpsTrustsOnlyTheGoodCertificateThroughTheTestCa) {
    const struct {
        TestServer::Cert cert;
        CURLcode expected;
    } cases[] = {
        {TestServer::Cert::Good, CURLE_OK},
        {TestServer::Cert::SelfSigned, CURLE_PEER_FAILED_VERIFICATION},
        {TestServer::Cert::Expired, CURLE_PEER_FAILED_VERIFICATION},
        {TestServer::Cert::WrongHost, CURLE_PEER_FAILED_VERIFICATION},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.cert));
        TestServer server(TestServer::Mode::Https, c.cert);
        server.Set("/secure", Route{.size = 5000});
        ASSERT_EQ(server.Url("/secure").rfind("https://127.0.0.1:", 0), 0u);
        const Reply reply = Fetch(server.Url("/secure"), [&](CURL* curl) {
            curl_easy_setopt(curl, CURLOPT_CAINFO, server.CaFile().c_str());
        });
        EXPECT_EQ(reply.code, c.expected);
        if (c.expected == CURLE_OK) {
            EXPECT_EQ(reply.body, Body(0, 5000));
        }
    }
    EXPECT_EQ(TestServer().CaFile(), "");
}

TEST(TestServer, DropAllAndTheDestructorEndEveryConnection) {
    auto server = std::make_unique<TestServer>();
    server->Set("/stall", Route{.size = 100000, .stallAfter = 1000});
    server->Set("/never", Route{.neverAnswer = true});
    const std::string stallUrl = server->Url("/stall");
    const std::string neverUrl = server->Url("/never");

    // EXPECT rather than ASSERT while clients run: they must still be joined.
    // DropAll ends a stalled answer, and the server goes on serving.
    CURLcode dropped = CURLE_OK;
    std::atomic<std::size_t> firstBytes{0};
    std::thread first([&] { dropped = Fetch(stallUrl, {}, &firstBytes).code; });
    EXPECT_TRUE(Eventually([&] { return firstBytes.load() == 1000; }));
    server->DropAll();
    first.join();
    EXPECT_EQ(dropped, CURLE_PARTIAL_FILE);
    server->Set("/stall", Route{.size = 10});
    EXPECT_EQ(Fetch(stallUrl).body, Body(0, 10));
    server->Set("/stall", Route{.size = 100000, .stallAfter = 1000});

    // The destructor ends stalled, never-answered and silent connections; the
    // clients would otherwise wait out their 30-second limit.
    CURLcode codes[3] = {CURLE_OK, CURLE_OK, CURLE_OK};
    std::vector<std::thread> clients;
    std::atomic<std::size_t> stalledBytes{0};
    clients.emplace_back([&] { codes[0] = Fetch(stallUrl, {}, &stalledBytes).code; });
    clients.emplace_back([&] { codes[1] = Fetch(neverUrl).code; });
    EXPECT_TRUE(
        Eventually([&] { return stalledBytes.load() == 1000 && server->Requests().size() == 4; }));
    server->SetSilent(true);
    clients.emplace_back([&] { codes[2] = Fetch(neverUrl).code; });
    EXPECT_TRUE(Eventually([&] { return server->AcceptedConnections() == 5; }));
    server.reset();
    for (std::thread& client : clients) client.join();
    EXPECT_EQ(codes[0], CURLE_PARTIAL_FILE);
    EXPECT_EQ(codes[1], CURLE_GOT_NOTHING);
    // The silent connection may end before or after the client has sent its request.
    EXPECT_NE(codes[2], CURLE_OK);
    EXPECT_NE(codes[2], CURLE_OPERATION_TIMEDOUT);
}

}  // namespace
