// What a download started from a browser sends: its cookies through libcurl's
// cookie engine (only where the engine allows, carried across redirect hops), its
// own User-Agent, and the page as the first hop's Referer.
#include <gtest/gtest.h>
#include <netdb.h>
#include <unistd.h>

#include <string>

#include "brindlex/vbrindlex.h"
#include "seams.h"
#include "temp_dir.h"
#include "test_server.h"

using vtest::Route;
using vtest::TestServer;

namespace {

// A Netscape cookie-file line for a host-only cookie.
std::string CookieLine(const std::string& host, bool secure, const std::string& name,
                       const std::string& value) {
    return host + "\tFALSE\t/\t" + (secure ? "TRUE" : "FALSE") + "\t0\t" + name + "\t" + value;
}

// A name of this machine that leads to 127.0.0.1 but is neither "localhost" nor
// an address: libcurl counts those two as secure, like browsers do. "" when none.
std::string LoopbackHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || std::string(name) == "localhost") return {};
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0) return {};
    const bool loopback =
        reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr == htonl(0x7f000001);
    freeaddrinfo(found);
    return loopback ? name : "";
}

std::string WithHost(const TestServer& server, const std::string& host, const std::string& path) {
    return "http://" + host + ":" + std::to_string(server.Port()) + path;
}

TEST(CookieEngineTest, CookiesGoWhereTheEngineSendsThemWithTheBrowsersAgentAndPage) {
    const std::string page = "http://127.0.0.1:1/page?q=1";
    struct Case {
        const char* name;
        std::string host;  // of the download's URL
        std::vector<Route> routes;
        std::string cookies;
        std::string wantCookie;   // at /f
        std::string wantReferer;  // at /f
    };
    TestServer server;
    const std::string other = WithHost(server, "localhost", "/f");
    const std::string here = WithHost(server, "127.0.0.1", "/f");
    const std::string named = LoopbackHostName();
    std::vector<Case> cases = {
        {"to the cookie's host",
         "127.0.0.1",
         {},
         CookieLine("127.0.0.1", false, "s", "1"),
         "s=1",
         page},
        {"none left from an earlier download", "127.0.0.1", {}, "", "", page},
        {"not after a redirect to another host",
         "127.0.0.1",
         {Route{.status = 302, .location = other}},
         CookieLine("127.0.0.1", false, "s", "1"),
         "",
         "http://127.0.0.1:1/"},
        {"a cookie a hop set goes on",
         "127.0.0.1",
         {Route{.status = 302, .location = here, .extraHeaders = {"Set-Cookie: h=2; Path=/"}}},
         CookieLine("127.0.0.1", false, "s", "1"),
         "h=2; s=1",
         page},
    };
    if (!named.empty()) {
        cases.push_back(
            {"a secure cookie never over http",
             named,
             {},
             CookieLine(named, true, "sec", "1") + "\n" + CookieLine(named, false, "plain", "2"),
             "plain=2",
             page});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.Set("/f", Route{.size = 10});
        server.Set("/r", c.routes.empty() ? Route{.size = 10} : c.routes[0]);
        const std::size_t before = server.RequestsFor("/f").size();
        vtest::TempDir dir;
        const std::string out = dir / "out";
        const std::string url = WithHost(server, c.host, c.routes.empty() ? "/f" : "/r");
        VBRINDLEX t;
        ASSERT_EQ(t.SetURL(url.c_str()), 1);
        ASSERT_EQ(t.SetReferer(page.c_str()), 1);
        t.refererIsPage = 1;
        ASSERT_EQ(t.SetCookies(c.cookies.c_str()), 1);
        t.agent = "Browser/1.0";
        t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(out.c_str()));
        EXPECT_EQ(t.Go(), RESULT_OK);
        const auto requests = server.RequestsFor("/f");
        ASSERT_EQ(requests.size(), before + 1);
        EXPECT_EQ(requests.back().Header("Cookie"), c.wantCookie);
        EXPECT_EQ(requests.back().Header("Referer"), c.wantReferer);
        EXPECT_EQ(requests.back().Header("User-Agent"), "Browser/1.0");
    }
    if (named.empty()) GTEST_SKIP() << "no host name of this machine leads to 127.0.0.1";
}

TEST(CookieEngineTest, ASecureCookieGoesOverHttps) {
    TestServer server(TestServer::Mode::Https);
    server.Set("/f", Route{.size = 10});
    brindlex::seams::SetTrustedCaFile(server.CaFile());
    vtest::TempDir dir;
    const std::string out = dir / "out";
    const std::string url = server.Url("/f");
    VBRINDLEX t;
    ASSERT_EQ(t.SetURL(url.c_str()), 1);
    ASSERT_EQ(t.SetCookies(CookieLine("127.0.0.1", true, "sec", "1").c_str()), 1);
    t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(out.c_str()));
    EXPECT_EQ(t.Go(), RESULT_OK);
    brindlex::seams::SetTrustedCaFile("");
    const auto requests = server.RequestsFor("/f");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("Cookie"), "sec=1");
    // A download added by hand names itself as the Referer.
    EXPECT_EQ(requests[0].Header("Referer"), url);
}

}  // namespace
