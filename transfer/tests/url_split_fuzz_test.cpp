// Random and mutated URLs, from a fixed seed, through the URL split. Run under
// ASan+UBSan this is the sanitizer-checked fuzz run of CrackUrl. URLs built from
// known parts must come back as those parts (or fail exactly when a part is too
// long for its buffer or the URL longer than the library takes); anything else
// must never crash, and whatever splits must fit its buffers and be safe to put
// on a request line.
#include <gtest/gtest.h>
#include <strings.h>

#include <cctype>
#include <cstring>
#include <random>
#include <string>

#include "internet.h"
#include "internet_url_text.h"

namespace brindlex::net {
namespace {

constexpr int kBuiltCases = 20000;
constexpr int kMutatedCases = 30000;

class UrlMaker {
public:
    explicit UrlMaker(std::uint32_t seed) : rng_(seed) {}

    std::size_t Below(std::size_t n) { return rng_() % n; }

    // A part's length: mostly short, sometimes right at its buffer's limit.
    std::size_t Length(std::size_t bufferSize) {
        switch (Below(8)) {
            case 0:
                return bufferSize - 2 + Below(3);  // longest, and one or two more
            case 1:
                return Below(bufferSize);
            default:
                return Below(12);
        }
    }

    // Decoded bytes of a part (never NUL, which no part can hold).
    std::string Bytes(std::size_t length) {
        static const char kTricky[] = "%?#@:/\\[] .~+=&\"\r\n\t\x7f\x80\xff";
        std::string s;
        while (s.size() < length) {
            s.push_back(Below(3) == 0 ? kTricky[Below(sizeof kTricky - 1)]
                                      : static_cast<char>(1 + Below(255)));
        }
        return s;
    }

    // The part as written in a URL: every byte outside the unreserved set escaped,
    // unreserved ones escaped now and then; `keep` names bytes left as they are.
    std::string Encode(const std::string& decoded, const char* keep = "") {
        static const char kHex[] = "0123456789abcdefABCDEF";
        std::string out;
        for (char c : decoded) {
            const auto b = static_cast<unsigned char>(c);
            const bool unreserved = std::isalnum(b) || std::strchr("-._~", c) != nullptr;
            if ((unreserved || (c != '\0' && std::strchr(keep, c) != nullptr)) && Below(8) != 0) {
                out.push_back(c);
            } else {
                out.push_back('%');
                out.push_back(kHex[Below(2) == 0   ? (b >> 4)
                                   : (b >> 4) < 10 ? (b >> 4)
                                                   : (b >> 4) + 6]);
                out.push_back(kHex[Below(2) == 0   ? (b & 15)
                                   : (b & 15) < 10 ? (b & 15)
                                                   : (b & 15) + 6]);
            }
        }
        return out;
    }

    // Host names the parser keeps as written: labels starting with a letter (an
    // all-digit name would be read as an IPv4 number and rewritten).
    std::string Host() {
        static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
        std::size_t length = Length(512);
        if (length == 0) length = 1;
        std::string host;
        while (host.size() < length) {
            if (host.empty() || host.back() == '.') {
                host.push_back(kLetters[Below(sizeof kLetters - 1)]);
            } else if (Below(10) == 0 && host.size() + 1 < length) {
                host.push_back('.');
            } else {
                host.push_back(Below(3) == 0 ? static_cast<char>('0' + Below(10))
                                             : kLetters[Below(sizeof kLetters - 1)]);
            }
        }
        return host;
    }

    std::mt19937& Rng() { return rng_; }

private:
    std::mt19937 rng_;
};

struct Expected {
    std::string scheme, host, user, password, path, extra;
    unsigned port = 0;
    Scheme id = Scheme::Unknown;
};

// Builds a URL from random parts and what its split must give.
std::string BuildUrl(UrlMaker& make, Expected* want) {
    const bool https = make.Below(2) == 0;
    want->scheme = https ? "https" : "http";
    want->id = https ? Scheme::Https : Scheme::Http;
    std::string url = make.Below(4) == 0 ? (https ? "HTTPS" : "HtTp") : want->scheme;
    url += "://";
    if (make.Below(3) == 0) {
        want->user = make.Bytes(make.Length(512));
        url += make.Encode(want->user);
        if (make.Below(2) == 0) {
            want->password = make.Bytes(make.Length(512));
            url += ":" + make.Encode(want->password, ":");
        }
        url += "@";
    }
    want->host = make.Host();
    url += want->host;
    want->port = https ? 443 : 80;
    if (make.Below(3) == 0) {
        want->port = 1 + static_cast<unsigned>(make.Below(65535));
        url += ":" + std::to_string(want->port);
    }
    // The path: segments of any bytes; dot segments stay as written.
    want->path = "/";
    url += "/";
    const std::size_t pathLength = make.Length(2048);
    while (want->path.size() < pathLength) {
        const std::string segment = make.Below(6) == 0 ? ".." : make.Bytes(1 + make.Below(20));
        want->path += segment + "/";
        url += make.Encode(segment, "!$&'()*+,;=:@") + "/";
    }
    if (make.Below(2) == 0) {
        const std::string query = make.Bytes(make.Length(2048));
        want->extra = "?" + query;
        url += "?" + make.Encode(query, "/?:@!$&'()*+,;=");
    }
    if (make.Below(3) == 0) {
        const std::string fragment = make.Bytes(make.Length(2048));
        if (!fragment.empty()) want->extra += "#" + fragment;
        url += "#" + make.Encode(fragment, "/?:@!$&'()*+,;=");
    }
    return url;
}

bool FitsItsBuffers(const Expected& want, const std::string& url) {
    return want.user.size() < 512 && want.password.size() < 512 && want.host.size() < 512 &&
           url.size() <= kMaxUrlLength;
}

// Every buffer holds its NUL, so nothing past it is ever read.
::testing::AssertionResult Terminated(const UrlParts& parts) {
    const struct {
        const char* name;
        const char* buffer;
        std::size_t size;
    } buffers[] = {
        {"scheme", parts.scheme, sizeof parts.scheme},
        {"host", parts.host, sizeof parts.host},
        {"user", parts.user, sizeof parts.user},
        {"password", parts.password, sizeof parts.password},
        {"path", parts.path, sizeof parts.path},
        {"extra", parts.extra, sizeof parts.extra},
    };
    for (const auto& b : buffers) {
        if (std::memchr(b.buffer, '\0', b.size) == nullptr) {
            return ::testing::AssertionFailure() << b.name << " is not terminated";
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(UrlSplitFuzz, BuiltUrlsGiveBackTheirParts) {
    UrlMaker make(20240920);
    int split = 0;
    for (int i = 0; i < kBuiltCases; ++i) {
        Expected want;
        const std::string url = BuildUrl(make, &want);
        UrlParts parts;
        const bool ok = CrackUrl(url.c_str(), &parts);
        ASSERT_EQ(ok, FitsItsBuffers(want, url)) << "case " << i << ": " << url;
        if (!ok) continue;
        ++split;
        ASSERT_TRUE(Terminated(parts)) << url;
        ASSERT_EQ(parts.scheme, want.scheme) << url;
        ASSERT_EQ(parts.schemeId, want.id) << url;
        ASSERT_EQ(parts.host, want.host) << url;
        ASSERT_EQ(parts.port, want.port) << url;
        ASSERT_EQ(parts.user, want.user) << url;
        ASSERT_EQ(parts.password, want.password) << url;
        ASSERT_EQ(parts.path, want.path) << url;
        ASSERT_EQ(parts.extra, want.extra) << url;
    }
    // Most URLs are short enough: the run really checks splits, not only refusals.
    EXPECT_GT(split, kBuiltCases / 2);
}

// Bytes that matter to a URL parser come up often; the rest covers all 255.
char UrlByte(UrlMaker& make) {
    static const char kUrlBytes[] = ":/?#@[]%.%0123456789abcdefABCDEF \t\r\n\\";
    return make.Below(2) == 0 ? kUrlBytes[make.Below(sizeof kUrlBytes - 1)]
                              : static_cast<char>(1 + make.Below(255));
}

std::string Mutate(UrlMaker& make, std::string url) {
    const std::size_t edits = 1 + make.Below(6);
    for (std::size_t e = 0; e < edits; ++e) {
        const std::size_t at = url.empty() ? 0 : make.Below(url.size() + 1);
        switch (make.Below(5)) {
            case 0:
                url.insert(at, 1, UrlByte(make));
                break;
            case 1:
                if (at < url.size()) url.erase(at, 1);
                break;
            case 2:
                if (at < url.size()) url[at] = UrlByte(make);
                break;
            case 3:
                url.resize(at);
                break;
            default:
                url.insert(at, std::string(make.Below(3000), UrlByte(make)));
                break;
        }
    }
    return url;
}

TEST(UrlSplitFuzz, MutatedAndRandomTextNeverBreaksTheSplit) {
    UrlMaker make(20240921);
    static const char* const kStarts[] = {"http://", "https://", "HTTP://u:p@", "ftp://", "", "x:"};
    int split = 0;
    for (int i = 0; i < kMutatedCases; ++i) {
        std::string url;
        if (i % 3 == 0) {
            url = kStarts[make.Below(6)];
            const std::size_t length = make.Below(200);
            while (url.size() < length) url.push_back(UrlByte(make));
        } else {
            Expected ignored;
            url = Mutate(make, BuildUrl(make, &ignored));
        }
        UrlParts parts;
        if (!CrackUrl(url.c_str(), &parts)) continue;
        ++split;
        ASSERT_TRUE(Terminated(parts)) << url;
        ASSERT_LE(parts.port, 65535u) << url;
        ASSERT_NE(parts.scheme[0], '\0') << url;
        const bool http = strcasecmp(parts.scheme, "http") == 0;
        const bool https = strcasecmp(parts.scheme, "https") == 0;
        ASSERT_EQ(parts.schemeId, http    ? Scheme::Http
                                  : https ? Scheme::Https
                                          : Scheme::Unknown)
            << url;
        if (http || https) {
            // The host goes into the connection and the Host line as it stands:
            // no blank or control byte may end that line or start another.
            for (const char* c = parts.host; *c != '\0'; ++c) {
                ASSERT_GT(static_cast<unsigned char>(*c), 0x20) << url;
            }
        }
        ASSERT_TRUE(parts.extra[0] == '\0' || parts.extra[0] == '?' || parts.extra[0] == '#')
            << url;
        // The request line is one line of visible ASCII, whatever the URL held.
        for (char c : EscapeForRequestLine(parts.object)) {
            const auto b = static_cast<unsigned char>(c);
            ASSERT_TRUE(b > 0x20 && b < 0x7f) << url;
        }
    }
    EXPECT_GT(split, kMutatedCases / 10);
}

}  // namespace
}  // namespace brindlex::net
