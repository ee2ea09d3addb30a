// HTTPS trusts the authorities that SSL_CERT_FILE and SSL_CERT_DIR name, as
// OpenSSL programs do; a name that is no file or folder leaves the system store.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "internet_test_util.h"
#include "temp_dir.h"
#include "test_certs.h"
#include "test_server.h"

namespace brindlex::net {
namespace {

using testing::Handles;
using vtest::Route;
using vtest::TestServer;

// Sets (or, for null, unsets) an environment variable for the life of the guard,
// then puts back what the test program started with.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        const char* before = std::getenv(name);
        if (before != nullptr) before_ = before;
        Put(value);
    }
    ~ScopedVariable() { Put(before_ ? before_->c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    void Put(const char* value) {
        if (value != nullptr) {
            setenv(name_, value, 1);
        } else {
            unsetenv(name_);
        }
    }
    const char* name_;
    std::optional<std::string> before_;
};

TEST(TrustStore, TakesTheAuthoritiesTheEnvironmentNames) {
    vtest::TempDir dir;
    const std::string hashed = dir / "hashed";
    const std::string empty = dir / "empty";
    std::filesystem::create_directory(hashed);
    std::filesystem::create_directory(empty);
    vtest::WriteWholeFile(hashed + "/" + vtest::TestCaHashName(), vtest::TestCaPem());
    const std::string bundle = dir / "ca.pem";
    vtest::WriteWholeFile(bundle, vtest::TestCaPem());
    const std::string list = dir / "missing:" + hashed;

    const struct {
        const char* name;
        const char* certFile;
        const char* certDir;
        bool trusted;
    } cases[] = {
        {"neither: the system store", nullptr, nullptr, false},
        {"bundle", bundle.c_str(), nullptr, true},
        {"bundle that does not exist", "/nonexistent/ca.pem", nullptr, false},
        {"a folder named as the bundle", hashed.c_str(), nullptr, false},
        {"hashed folder", nullptr, hashed.c_str(), true},
        {"folder list with a missing one", nullptr, list.c_str(), true},
        {"folder without the authority", nullptr, empty.c_str(), false},
        {"folder that does not exist", nullptr, "/nonexistent", false},
    };
    TestServer server(TestServer::Mode::Https);
    server.Set("/secure", Route{.size = 10});
    for (const auto& c : cases) {
        ScopedVariable file("SSL_CERT_FILE", c.certFile);
        ScopedVariable folder("SSL_CERT_DIR", c.certDir);
        Handles h(server.Url("/secure"));
        EXPECT_EQ(HttpSendRequest(h.request, ""), c.trusted) << c.name;
    }
}

}  // namespace
}  // namespace brindlex::net
