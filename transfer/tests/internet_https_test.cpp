// HTTPS: the certificate is always checked, against the trusted authorities.
#include <gtest/gtest.h>

#include <string>

#include "internet_test_util.h"
#include "test_server.h"

namespace brindlex::net {
namespace {

using testing::Handles;
using testing::TrustCa;
using vtest::Route;
using vtest::TestServer;

TEST(InternetHttps, FetchesFromAServerTheTrustedAuthoritySigned) {
    TestServer server(TestServer::Mode::Https);
    TrustCa trust(server.CaFile());
    Route route;
    route.size = 300000;
    server.Set("/secure", route);
    Handles h(server.Url("/secure?x=1#frag"));
    ASSERT_TRUE(HttpSendRequest(h.request, ""));
    unsigned long status = 0;
    ASSERT_TRUE(HttpQueryStatusCode(h.request, &status));
    EXPECT_EQ(status, 200u);
    std::string body;
    ASSERT_TRUE(h.ReadAll(&body));
    EXPECT_TRUE(body == vtest::Body(0, 300000));
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].target, "/secure?x=1#frag");
}

TEST(InternetHttps, RefusesACertificateItCannotTrust) {
    const struct {
        const char* name;
        TestServer::Cert cert;
        bool trustTestCa;
    } cases[] = {
        // Signed by the test authority, which the system store does not hold.
        {"unknown authority", TestServer::Cert::Good, false},
        {"self-signed", TestServer::Cert::SelfSigned, true},
        {"expired", TestServer::Cert::Expired, true},
        {"other host", TestServer::Cert::WrongHost, true},
    };
    for (const auto& c : cases) {
        TestServer server(TestServer::Mode::Https, c.cert);
        server.Set("/secure", Route{});
        TrustCa trust(c.trustTestCa ? server.CaFile() : "");
        Handles h(server.Url("/secure"));
        EXPECT_FALSE(HttpSendRequest(h.request, "")) << c.name;
        EXPECT_TRUE(server.Requests().empty()) << c.name;
    }
}

}  // namespace
}  // namespace brindlex::net
