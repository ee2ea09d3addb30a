// URL splitting and request-line escaping.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "internet.h"
#include "internet_url_text.h"

namespace brindlex::net {
namespace {

struct SplitCase {
    const char* url;
    const char* scheme;
    const char* host;
    unsigned port;
    const char* user;
    const char* password;
    const char* path;
    const char* extra;
    Scheme id;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.url; }

class CrackUrlSplits : public ::testing::TestWithParam<SplitCase> {};

TEST_P(CrackUrlSplits, IntoItsParts) {
    const SplitCase& c = GetParam();
    UrlParts parts;
    ASSERT_TRUE(CrackUrl(c.url, &parts)) << c.url;
    EXPECT_STREQ(parts.scheme, c.scheme);
    EXPECT_STREQ(parts.host, c.host);
    EXPECT_EQ(parts.port, c.port);
    EXPECT_STREQ(parts.user, c.user);
    EXPECT_STREQ(parts.password, c.password);
    EXPECT_STREQ(parts.path, c.path);
    EXPECT_STREQ(parts.extra, c.extra);
    EXPECT_EQ(parts.schemeId, c.id);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CrackUrlSplits,
    ::testing::Values(
        // Default ports, and a port given.
        SplitCase{"http://host", "http", "host", 80, "", "", "/", "", Scheme::Http},
        SplitCase{"https://host/f.zip", "https", "host", 443, "", "", "/f.zip", "", Scheme::Https},
        SplitCase{"HTTP://Host:8080/x", "http", "Host", 8080, "", "", "/x", "", Scheme::Http},
        // Query and fragment, from the first '?' or '#'.
        SplitCase{"http://h/dir/a.cgi?id=5#top", "http", "h", 80, "", "", "/dir/a.cgi", "?id=5#top",
                  Scheme::Http},
        SplitCase{"http://h/p#a?b", "http", "h", 80, "", "", "/p", "#a?b", Scheme::Http},
        SplitCase{"http://h/p?a#b?c", "http", "h", 80, "", "", "/p", "?a#b?c", Scheme::Http},
        SplitCase{"http://h/p?", "http", "h", 80, "", "", "/p", "?", Scheme::Http},
        // Dot segments stay: the object goes out as written.
        SplitCase{"http://h/a/../b", "http", "h", 80, "", "", "/a/../b", "", Scheme::Http},
        // User and password, decoded.
        SplitCase{"http://u:p%40ss@h/", "http", "h", 80, "u", "p@ss", "/", "", Scheme::Http},
        SplitCase{"http://us%65r@h:81/", "http", "h", 81, "user", "", "/", "", Scheme::Http},
        SplitCase{"http://u:a:b@h/", "http", "h", 80, "u", "a:b", "/", "", Scheme::Http},
        // Escapes decoded everywhere; a '%' that starts no escape stays.
        SplitCase{"http://h/a%20b/%7ex?q=%41#%42", "http", "h", 80, "", "", "/a b/~x", "?q=A#B",
                  Scheme::Http},
        SplitCase{"http://h/100%.zip?50%", "http", "h", 80, "", "", "/100%.zip", "?50%",
                  Scheme::Http},
        SplitCase{"http://h/x%4", "http", "h", 80, "", "", "/x%4", "", Scheme::Http},
        SplitCase{"http://h/a b", "http", "h", 80, "", "", "/a b", "", Scheme::Http},
        SplitCase{"http://h/%C3%A9", "http", "h", 80, "", "", "/\xC3\xA9", "", Scheme::Http},
        SplitCase{"http://[::1]:8080/", "http", "[::1]", 8080, "", "", "/", "", Scheme::Http},
        // Other schemes split, so the caller can refuse them itself.
        SplitCase{"ftp://h/x", "ftp", "h", 21, "", "", "/x", "", Scheme::Unknown},
        SplitCase{"foo://h/x", "foo", "h", 0, "", "", "/x", "", Scheme::Unknown}),
    [](const ::testing::TestParamInfo<SplitCase>& info) {
        // The URL's letters and digits make a stable, readable name.
        std::string name = std::to_string(info.index) + "_";
        for (const char* c = info.param.url; *c != '\0'; ++c) {
            if (std::isalnum(static_cast<unsigned char>(*c))) name.push_back(*c);
        }
        return name;
    });

TEST(CrackUrl, RefusesWhatIsNotAUrl) {
    const char* const notUrls[] = {
        "",
        "garbage",
        "://x",
        "http://",
        "mailto:x@y",
        "/just/a/path",
        "http://h:99999/",
        "http://h/a\x01",
        "http://h/a\r\nX: y",
        // An escape that decodes to NUL would cut the part short.
        "http://h/a%00b",
        "http://u%00@h/",
    };
    for (const char* url : notUrls) {
        UrlParts parts;
        EXPECT_FALSE(CrackUrl(url, &parts)) << url;
    }
    UrlParts parts;
    EXPECT_FALSE(CrackUrl(nullptr, &parts));
    EXPECT_FALSE(CrackUrl("http://h/", nullptr));
}

// Each part at the longest its buffer holds, and one character more; the path
// and the extra information are bounded only by the whole URL's length.
TEST(CrackUrl, PartsUpToTheirBufferLimits) {
    struct Limit {
        const char* name;
        std::string (*make)(std::size_t length);
        std::size_t longest;
    };
    const Limit limits[] = {
        {"scheme", [](std::size_t n) { return std::string(n, 's') + "://h/"; }, 9},
        {"host", [](std::size_t n) { return "http://" + std::string(n, 'h') + "/"; }, 511},
        {"user", [](std::size_t n) { return "http://" + std::string(n, 'u') + "@h/"; }, 511},
        {"password", [](std::size_t n) { return "http://u:" + std::string(n, 'p') + "@h/"; }, 511},
        {"url with a long path",
         [](std::size_t n) { return "http://h/" + std::string(n - 9, 'p'); }, kMaxUrlLength},
        {"url with a long query",
         [](std::size_t n) { return "http://h/?" + std::string(n - 10, 'q'); }, kMaxUrlLength},
        {"url with a long fragment",
         [](std::size_t n) { return "http://h/?q#" + std::string(n - 12, 'f'); }, kMaxUrlLength},
        // The limit counts the URL as written, escapes included.
        {"url with escapes",
         [](std::size_t n) { return "http://h/" + std::string(n - 18, 'p') + "%41%42%43"; },
         kMaxUrlLength},
    };
    for (const Limit& limit : limits) {
        UrlParts parts;
        EXPECT_TRUE(CrackUrl(limit.make(limit.longest).c_str(), &parts)) << limit.name;
        EXPECT_FALSE(CrackUrl(limit.make(limit.longest + 1).c_str(), &parts)) << limit.name;
    }
}

TEST(CrackUrl, SurvivesHostileText) {
    // Long runs and every byte value: the split may fail but must not crash.
    std::string everyByte = "http://h/";
    for (int c = 1; c < 256; ++c) everyByte.push_back(static_cast<char>(c));
    const std::string inputs[] = {
        everyByte,
        "http://" + std::string(100000, 'a'),
        "http://h/" + std::string(100000, '%'),
        "http://h:" + std::string(50, '9') + "/",
        std::string(5000, ':') + "//",
        "http://[" + std::string(300, ':') + "]/",
    };
    for (const std::string& input : inputs) {
        UrlParts parts;
        if (CrackUrl(input.c_str(), &parts)) {
            EXPECT_LT(std::char_traits<char>::length(parts.path), sizeof parts.path);
        }
    }
}

// The Referer of a page: to its own origin without credentials, to another one
// only its origin, read by the same parser as the request.
TEST(RefererText, IsRebuiltByTheParser) {
    const struct {
        const char* url;
        const char* withoutCredentials;
        const char* origin;
    } cases[] = {
        {"http://u:pw@h:81/p?t=1#f", "http://h:81/p?t=1#f", "http://h:81/"},
        {"http:/u:pw@h/p", "http://h/p", "http://h/"},
        {"http:///u:pw@h/p", "http://h/p", "http://h/"},
        {"https://u@h:443/a/../b", "https://h:443/a/../b", "https://h/"},
        {"http://[::1]:8080/x", "http://[::1]:8080/x", "http://[::1]:8080/"},
        {"not a url", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WithoutCredentials(c.url), c.withoutCredentials) << c.url;
        EXPECT_EQ(RefererOrigin(c.url), c.origin) << c.url;
    }
}

TEST(EscapeForRequestLine, EscapesOnlyWhatCannotStandOnTheWire) {
    EXPECT_EQ(EscapeForRequestLine("/dir/a.cgi?id=5#top"), "/dir/a.cgi?id=5#top");
    EXPECT_EQ(EscapeForRequestLine("/a b\t\r\n\x7F"), "/a%20b%09%0D%0A%7F");
    EXPECT_EQ(EscapeForRequestLine("/\xC3\xA9"), "/%C3%A9");
    EXPECT_EQ(EscapeForRequestLine("/~!$&'()*+,;=:@%"), "/~!$&'()*+,;=:@%");
    EXPECT_EQ(EscapeForRequestLine(""), "");
}

}  // namespace
}  // namespace brindlex::net
