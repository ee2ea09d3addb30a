// libFuzzer target for the URL split: any text is split or refused without a
// crash, and a split URL fits its buffers, has a sane port and scheme, a host
// without blanks or control bytes, and an object that goes on the request line
// as visible ASCII only.
//   url_split_fuzz [corpus folder] [-runs=N] [-max_total_time=S]
#include <strings.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "internet.h"
#include "internet_url_text.h"

namespace {

void CheckTerminated(const char* buffer, std::size_t size) {
    if (std::memchr(buffer, '\0', size) == nullptr) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brindlex::net;
    // libcurl's parser is not instrumented, so the fuzzer gets no guidance towards
    // the text it accepts: the first byte picks a start that it does accept.
    static const char* const kStarts[] = {"", "http://", "https://", "HTTP://u:p@h", "ftp://"};
    std::string url;
    if (size > 0) {
        url = kStarts[data[0] % 5];
        url.append(reinterpret_cast<const char*>(data) + 1, size - 1);
    }
    // The job's URL is a NUL-terminated string: whatever follows a NUL is not seen.
    UrlParts parts;
    if (!CrackUrl(url.c_str(), &parts)) return 0;
    CheckTerminated(parts.scheme, sizeof parts.scheme);
    CheckTerminated(parts.host, sizeof parts.host);
    CheckTerminated(parts.user, sizeof parts.user);
    CheckTerminated(parts.password, sizeof parts.password);
    CheckTerminated(parts.path, sizeof parts.path);
    CheckTerminated(parts.extra, sizeof parts.extra);
    if (parts.port > 65535 || parts.scheme[0] == '\0') std::abort();
    const bool http = strcasecmp(parts.scheme, "http") == 0;
    const bool https = strcasecmp(parts.scheme, "https") == 0;
    const Scheme id = http ? Scheme::Http : https ? Scheme::Https : Scheme::Unknown;
    if (parts.schemeId != id) std::abort();
    // An explicit ":0" splits as port 0, which the connection takes as the scheme's
    // own port, as the platform's "invalid port number" did.
    if (http || https) {
        for (const char* c = parts.host; *c != '\0'; ++c) {
            if (static_cast<unsigned char>(*c) <= 0x20) std::abort();
        }
    }
    if (parts.extra[0] != '\0' && parts.extra[0] != '?' && parts.extra[0] != '#') std::abort();
    for (char c : EscapeForRequestLine(parts.object)) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b >= 0x7f) std::abort();
    }
    return 0;
}
