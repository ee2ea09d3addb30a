// The internet layer of the fetch: URL split, session, connection and request
// handles, header queries and pull-style body reads, on libcurl.
//
// Handles are reference counted. The fetch worker keeps its own reference for as
// long as it uses a handle (InternetRef) while the object's member holds another,
// so the run thread may close the member's handle at any moment: InternetCloseHandle
// marks it and its children closed, wakes a call pending on it, which then fails
// within a second, and drops the member's reference. Memory goes when the last
// reference goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "brindlex/vbrindlex.h"

namespace brindlex::net {

enum class Scheme { Unknown, Http, Https };

// The longest URL the library takes, in bytes: signed links run to several KiB.
constexpr std::size_t kMaxUrlLength = 8192;

// Buffer sizes count the terminating NUL; a longer part makes the split fail. The
// path and the extra information of any URL up to kMaxUrlLength fit.
struct UrlParts {
    char scheme[10];
    char host[512];
    char user[512];
    char password[512];
    char path[kMaxUrlLength];
    char extra[kMaxUrlLength];  // query and fragment, from the first '?' or '#'
    unsigned port;              // 80 / 443 when the URL gives none
    Scheme schemeId;            // Unknown for anything but http and https
    // Path and extra information as the URL writes them, escapes kept: what goes
    // on the request line. Decoding "%26" or "%2F" there would ask the server for
    // another resource (and break signed download links).
    std::string object;
};

// Splits `url` (NUL-terminated) with escape sequences decoded. False when the text
// is not a URL, is longer than kMaxUrlLength or a part does not fit its buffer.
bool CrackUrl(const char* url, UrlParts* parts);

// `url` rebuilt by the parser without its user name and password: what a Referer
// line may carry to the URL's own origin. "" when it is not a URL.
std::string WithoutCredentials(const char* url);

// "scheme://host[:port]/" of `url`, the port only when it is not the scheme's
// own: all a Referer tells another origin, as browsers do. "" when it is not a URL.
std::string RefererOrigin(const char* url);

// Handles. Each call returns a new handle holding one reference, or null.
// `cookies` (may be null): Netscape cookie-file lines, one per line, for
// libcurl's cookie engine; every request of the session starts from them, and
// cookies a redirect hop sets go on to the next hop.
VHINTERNET InternetOpen(const char* agent, const char* cookies = nullptr);
VHINTERNET InternetConnect(VHINTERNET session, const char* host, unsigned port, const char* user,
                           const char* password);
// `object` is path + extra information, sent as it stands; only bytes that cannot
// stand on the wire (space, control and non-ASCII) are escaped. `referer` may be null.
VHINTERNET HttpOpenRequest(VHINTERNET connection, const char* object, const char* referer,
                           bool secure);

// Sends the GET with the additional header lines ("Name: value\r\n"...,
// NUL-terminated) and waits for the final answer's headers, following redirects.
// A Referer line (or else the referer argument) is rebuilt for each hop: a hop to
// another origin gets only its origin ("http://host:port/"), and it never goes
// from HTTPS to plain HTTP. False on any failure, certificate checks included, when the handle was
// closed, on a redirect from HTTPS to plain HTTP (nothing leaves in the clear), or
// when a 2xx answer's Content-Length is not one number below 2^63 (its body could
// not be told complete from cut short).
bool HttpSendRequest(VHINTERNET request, const char* headers);
// After HttpSendRequest failed: RESULT_NO_CONNECT when the proxy could not be found
// or reached, the proxy's status when it refused the tunnel, otherwise
// RESULT_BAD_SEND_REQUEST.
unsigned long HttpSendFailure(VHINTERNET request);

// Before HttpSendRequest: adds "If-Range: <validator>" to the hops that go to
// `origin` ("scheme://host:port") and to no other.
bool HttpSetIfRange(VHINTERNET request, const char* validator, const char* origin);
// "scheme://host:port" of the server that gave the final answer.
bool HttpQueryOrigin(VHINTERNET request, std::string* origin);

// Header queries on the final answer; false when absent or unusable.
bool HttpQueryStatusCode(VHINTERNET request, unsigned long* code);
// Copies the value of header `name` (case-insensitive) into buf, NUL-terminated;
// false when absent or when it does not fit.
bool HttpQueryHeader(VHINTERNET request, const char* name, char* buf, std::size_t bufSize);
bool HttpQueryLastModified(VHINTERNET request, std::time_t* when);
// The body's length from Content-Length; fails when the header is absent or the
// body is chunked (its framing overrides the header). HttpSendRequest has already
// refused an answer whose Content-Length is not one number below 2^63.
bool HttpQueryContentLength(VHINTERNET request, std::uint64_t* length);
// True when the final answer carries header `name`, whatever the length of its
// value: a value too long for a query's buffer is still there.
bool HttpHasHeader(VHINTERNET request, const char* name);

// Blocks until at most `want` bytes of the body are in `buf`; *got = 0 at the end
// of the body. False on a failed transfer or a closed handle.
bool InternetReadFile(VHINTERNET request, void* buf, std::size_t want, std::size_t* got);
// Worker thread. Body bytes a read would take at once, without waiting; 0 when it
// would wait (or find the end, a failure or a closed handle).
std::size_t InternetBufferedBytes(VHINTERNET request);

// Any thread. Marks the handle (and every handle made from it) closed, wakes a call
// pending on it and drops one reference. Null does nothing.
void InternetCloseHandle(VHINTERNET handle);

// Any thread. True when the handle, or one it was made from, has been closed (and
// for null). Every query on a closed handle fails, so a failed query means "absent"
// only while this is false.
bool InternetIsClosed(VHINTERNET handle);

// One more reference; released with InternetRelease.
void InternetRetain(VHINTERNET handle);
void InternetRelease(VHINTERNET handle);

// The worker's own reference to a handle it uses.
class InternetRef {
public:
    explicit InternetRef(VHINTERNET h = nullptr) : h_(h) {}
    ~InternetRef() { InternetRelease(h_); }
    InternetRef(const InternetRef&) = delete;
    InternetRef& operator=(const InternetRef&) = delete;
    VHINTERNET get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    // Takes `h` (one reference) in place of the handle held so far.
    void reset(VHINTERNET h) {
        InternetRelease(h_);
        h_ = h;
    }

private:
    VHINTERNET h_;
};

}  // namespace brindlex::net
