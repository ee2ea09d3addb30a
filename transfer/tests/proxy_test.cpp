// Proxies: from the environment as curl reads it, or the one set, over HTTP and
// through a CONNECT tunnel for HTTPS; what a proxy that cannot be reached or
// refuses gives; and that its password never reaches the origin.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "brindlex/vbrindlex.h"
#include "internet_test_util.h"
#include "temp_dir.h"
#include "test_proxy.h"
#include "test_server.h"

using brindlex::net::testing::LocalPort;
using brindlex::net::testing::TrustCa;
using vtest::Route;
using vtest::TestProxy;
using vtest::TestServer;

namespace {

const char* const kProxyVariables[] = {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                                       "all_proxy",  "ALL_PROXY",   "no_proxy",   "NO_PROXY"};

class ProxyTest : public ::testing::Test {
protected:
    // The environment is the test's own: every proxy variable clear, then put
    // back as it was; the setting back to the environment.
    void SetUp() override {
        for (const char* name : kProxyVariables) {
            if (const char* value = std::getenv(name)) saved_[name] = value;
            unsetenv(name);
        }
    }
    void TearDown() override {
        for (const char* name : kProxyVariables) unsetenv(name);
        for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
        VSetProxy(PROXY_FROM_ENVIRONMENT, nullptr, 0, nullptr, nullptr);
    }

    unsigned long Fetch(const std::string& url) {
        VBRINDLEX t;
        t.SetURL(url.c_str());
        t.SetDataReceptor(reinterpret_cast<std::uintptr_t>(out_.c_str()));
        return t.Go();
    }

    vtest::TempDir dir_;
    std::string out_ = dir_ / "out";
    std::map<std::string, std::string> saved_;
};

TEST_F(ProxyTest, GoesThroughTheProxyFromTheEnvironmentOrTheSetting) {
    for (const bool secure : {false, true}) {
        for (const bool manual : {false, true}) {
            SCOPED_TRACE(std::string(secure ? "https" : "http") + (manual ? " manual" : " env"));
            TestServer origin(secure ? TestServer::Mode::Https : TestServer::Mode::Http);
            origin.Set("/f", Route{.size = 5000});
            TrustCa trust(origin.CaFile());
            TestProxy proxy;
            if (manual) {
                VSetProxy(PROXY_MANUAL, "127.0.0.1", proxy.Port(), nullptr, nullptr);
            } else {
                setenv(secure ? "https_proxy" : "http_proxy", proxy.Url().c_str(), 1);
            }
            EXPECT_EQ(Fetch(origin.Url("/f?q=1")), RESULT_OK);
            EXPECT_EQ(vtest::ReadWholeFile(out_), vtest::Body(0, 5000));
            const auto asked = proxy.Requests();
            ASSERT_EQ(asked.size(), 1u);
            const std::string authority = "127.0.0.1:" + std::to_string(origin.Port());
            EXPECT_EQ(asked[0].method, secure ? "CONNECT" : "GET");
            EXPECT_EQ(asked[0].target, secure ? authority : "http://" + authority + "/f?q=1");
            ASSERT_EQ(origin.Requests().size(), 1u);
            EXPECT_EQ(origin.Requests()[0].target, "/f?q=1");
            TearDown();
            SetUp();
        }
    }
}

TEST_F(ProxyTest, TheOriginsCertificateIsStillChecked) {
    TestServer origin(TestServer::Mode::Https, TestServer::Cert::WrongHost);
    origin.Set("/f", Route{.size = 10});
    TrustCa trust(origin.CaFile());
    TestProxy proxy;
    VSetProxy(PROXY_MANUAL, "127.0.0.1", proxy.Port(), nullptr, nullptr);
    EXPECT_EQ(Fetch(origin.Url("/f")), RESULT_BAD_SEND_REQUEST);
    EXPECT_EQ(proxy.Requests().size(), 1u);
    EXPECT_TRUE(origin.Requests().empty());
}

TEST_F(ProxyTest, NoProxyAndTheNoneSettingGoDirect) {
    for (const int mode : {PROXY_FROM_ENVIRONMENT, PROXY_MANUAL, PROXY_NONE}) {
        SCOPED_TRACE(mode);
        TestServer origin;
        origin.Set("/f", Route{.size = 10});
        TestProxy proxy;
        setenv("http_proxy", proxy.Url().c_str(), 1);
        // no_proxy names the origin for the first two; None needs no exception.
        if (mode != PROXY_NONE) setenv("no_proxy", "127.0.0.1", 1);
        VSetProxy(mode, "127.0.0.1", proxy.Port(), "user", "secret");
        EXPECT_EQ(Fetch(origin.Url("/f")), RESULT_OK);
        EXPECT_TRUE(proxy.Requests().empty());
        ASSERT_EQ(origin.Requests().size(), 1u);
        EXPECT_FALSE(origin.Requests()[0].HasHeader("Proxy-Authorization"));
        TearDown();
        SetUp();
    }
}

TEST_F(ProxyTest, AProxyThatCannotBeReachedOrRefusesEndsTheAttempt) {
    TestServer origin;
    origin.Set("/f", Route{.size = 10});
    TestServer secureOrigin(TestServer::Mode::Https);
    secureOrigin.Set("/f", Route{.size = 10});
    TrustCa trust(secureOrigin.CaFile());
    LocalPort refusing(LocalPort::Refusing);
    TestProxy refusingProxy;
    refusingProxy.Refuse(403);
    TestProxy authProxy;
    authProxy.Refuse(407);
    const struct {
        const char* name;
        const char* environment;  // http_proxy / https_proxy, or null for the setting
        const char* host;
        unsigned port;
        bool secure;
        unsigned long expected;
    } cases[] = {
        {"env, nothing listens", "", nullptr, refusing.port(), false, RESULT_NO_CONNECT},
        {"env, nothing listens, https", "", nullptr, refusing.port(), true, RESULT_NO_CONNECT},
        {"set, nothing listens", nullptr, "127.0.0.1", refusing.port(), false, RESULT_NO_CONNECT},
        {"set, no host", nullptr, "", 3128, false, RESULT_NO_CONNECT},
        {"set, no port", nullptr, "127.0.0.1", 0, true, RESULT_NO_CONNECT},
        {"refuses", nullptr, "127.0.0.1", refusingProxy.Port(), false, 403},
        {"refuses CONNECT", nullptr, "127.0.0.1", refusingProxy.Port(), true, 403},
        {"wants credentials, CONNECT", "", nullptr, authProxy.Port(), true, 407},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.environment != nullptr) {
            const std::string url = "http://127.0.0.1:" + std::to_string(c.port);
            setenv(c.secure ? "https_proxy" : "http_proxy", url.c_str(), 1);
        } else {
            VSetProxy(PROXY_MANUAL, c.host, c.port, nullptr, nullptr);
        }
        EXPECT_EQ(Fetch((c.secure ? secureOrigin : origin).Url("/f")), c.expected);
        TearDown();
        SetUp();
    }
    EXPECT_TRUE(origin.Requests().empty());
    EXPECT_TRUE(secureOrigin.Requests().empty());
}

TEST_F(ProxyTest, TheProxyPasswordGoesToTheProxyAlone) {
    for (const bool secure : {false, true}) {
        SCOPED_TRACE(secure ? "https" : "http");
        TestServer origin(secure ? TestServer::Mode::Https : TestServer::Mode::Http);
        origin.Set("/f", Route{.size = 10});
        TrustCa trust(origin.CaFile());
        TestProxy proxy;
        VSetProxy(PROXY_MANUAL, "127.0.0.1", proxy.Port(), "user", "s3cret");
        EXPECT_EQ(Fetch(origin.Url("/f")), RESULT_OK);
        ASSERT_EQ(proxy.Requests().size(), 1u);
        // base64 of "user:s3cret"
        EXPECT_EQ(proxy.Requests()[0].Header("Proxy-Authorization"), "Basic dXNlcjpzM2NyZXQ=");
        const auto originRequests = origin.Requests();
        ASSERT_EQ(originRequests.size(), 1u);
        for (const auto& [name, value] : originRequests[0].headers) {
            EXPECT_EQ(value.find("dXNlcjpzM2NyZXQ"), std::string::npos) << name;
            EXPECT_EQ(value.find("s3cret"), std::string::npos) << name;
        }
        EXPECT_FALSE(origin.Requests()[0].HasHeader("Authorization"));
        // Nor does it go with the next download once the proxy is off.
        VSetProxy(PROXY_NONE, "", 0, "", "");
        EXPECT_EQ(Fetch(origin.Url("/f")), RESULT_OK);
        ASSERT_EQ(origin.Requests().size(), 2u);
        EXPECT_FALSE(origin.Requests()[1].HasHeader("Proxy-Authorization"));
    }
}

}  // namespace
