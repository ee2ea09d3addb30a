// Relative SSL_CERT_FILE and SSL_CERT_DIR entries are taken from the folder the
// program started in, not the save folder it moves to.
#include "cert_env_paths.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace {

TEST(CertEnvPathsTest, RelativeEntriesAreTakenFromTheStartFolder) {
    struct Case {
        const char* value;
        const char* file;  // as SSL_CERT_FILE
        const char* dirs;  // as SSL_CERT_DIR
    };
    const Case cases[] = {
        {"ca.pem", "/start/ca.pem", "/start/ca.pem"},
        {"./certs/ca.pem", "/start/./certs/ca.pem", "/start/./certs/ca.pem"},
        {"/etc/ssl/ca.pem", "/etc/ssl/ca.pem", "/etc/ssl/ca.pem"},
        {"", "", ""},
        {"a:/abs:b", "/start/a:/abs:b", "/start/a:/abs:/start/b"},
        {":certs:", "/start/:certs:", ":/start/certs:"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AbsoluteFrom("/start", c.value), c.file) << c.value;
        EXPECT_EQ(AbsoluteListFrom("/start/", c.value), c.dirs) << c.value;
    }

    char* start = ::getcwd(nullptr, 0);
    ASSERT_NE(start, nullptr);
    ::setenv("SSL_CERT_FILE", "ca.pem", 1);
    ::setenv("SSL_CERT_DIR", "one:/two", 1);
    MakeCertPathsAbsolute();
    EXPECT_EQ(std::string(::getenv("SSL_CERT_FILE")), std::string(start) + "/ca.pem");
    EXPECT_EQ(std::string(::getenv("SSL_CERT_DIR")), std::string(start) + "/one:/two");
    ::unsetenv("SSL_CERT_FILE");
    ::unsetenv("SSL_CERT_DIR");
    MakeCertPathsAbsolute();
    EXPECT_EQ(::getenv("SSL_CERT_FILE"), nullptr);
    ::free(start);
}

}  // namespace
