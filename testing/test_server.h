// A scripted HTTP and HTTPS server for tests, on 127.0.0.1 only.
//
// Each test makes its own server (an ephemeral port), scripts the answer of each
// path with a Route, runs its transfers and checks the recorded requests. The
// destructor ends every connection, stalled ones included, and joins every thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vtest {

// Byte `i` of every generated body, so a test can check a file without keeping a copy.
char BodyByte(std::uint64_t i);
// Bytes [offset, offset + length) of the generated body.
std::string Body(std::uint64_t offset, std::uint64_t length);
// The same bytes written to `out`, fast enough to check or serve gigabytes.
void FillBody(std::uint64_t offset, char* out, std::size_t length);

struct RecordedRequest {
    std::string method;
    std::string target;  // as it stood on the request line
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;  // in order, as sent
    // Value of the first header called `name` (case-insensitive); "" when absent.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
};

// What the server answers for one path. An answer carries "Connection: close"
// and its connection ends after it, unless the route keeps connections alive.
// Every member has a default, so designated initialisers (Route{.size = 10}) pass
// -Wmissing-field-initializers.
struct Route {
    int status = 200;
    // Length of the generated resource (Body(0, size)), unless `body` is given.
    std::uint64_t size = 0;
    std::optional<std::string> body{};
    // Sends "Accept-Ranges: bytes" and answers a "Range: bytes=N-" request with 206,
    // the body from N and "Content-Range: bytes N-(size-1)/size". A range start at
    // or past the end gets 416. Only status 200 routes honour Range ("bytes=N-" and
    // "bytes=N-M"); other forms get the whole resource.
    bool acceptRanges = true;
    // Answer a Range request with 206 even without the Accept-Ranges header
    // (only meaningful with acceptRanges = false).
    bool rangeWithoutAcceptRanges = false;
    // Forced Content-Range value on every answer; the body then starts at
    // `bodyOffset` and runs to the end of the resource. The status stays the
    // route's own (set 206 where the test wants one).
    std::optional<std::string> contentRange{};
    std::uint64_t bodyOffset = 0;
    // Content-Length header text in place of the real one; "" leaves it out. The
    // body sent stays the same, so a wrong value leaves the client short or over.
    std::optional<std::string> contentLength{};
    enum class Framing { Length, Close, Chunked };
    // Length: Content-Length; Close: no length, the body ends with the connection;
    // Chunked: Transfer-Encoding: chunked.
    Framing framing = Framing::Length;
    // After this many body bytes: hold the connection open and silent until the
    // server stops (or DropAll, or the client closes). A count equal to the body's
    // length stalls before the end of the framing (chunked terminator, close).
    std::optional<std::uint64_t> stallAfter{};
    // After this many body bytes: close the connection (over TLS without
    // close_notify). Counts past the body's length do nothing.
    std::optional<std::uint64_t> dropAfter{};
    // Sends the body at this rate; 0 as fast as the socket takes it.
    std::uint64_t bytesPerSecond = 0;
    // Last-Modified header value; "" sends none.
    std::string lastModified{};
    // ETag header value, quotes and any W/ included; "" sends none. A Range
    // request with If-Range gets its range only when the If-Range value is this
    // strong ETag or this Last-Modified text; otherwise the whole resource.
    std::string etag{};
    // Location header (use with a 3xx status).
    std::string location{};
    // More header lines, each "Name: value" without line end.
    std::vector<std::string> extraHeaders{};
    // Reads the request and never answers.
    bool neverAnswer = false;
    // Answers with exactly these bytes (status line, headers and body) instead.
    std::optional<std::string> raw{};
    // Leaves "Connection: close" out and, once the whole body (framed by its
    // length) is sent, reads the next request on the same connection.
    bool keepAlive = false;
};

class TestServer {
public:
    enum class Mode { Http, Https };
    // Certificate of an HTTPS server: signed by the test CA for 127.0.0.1 and
    // localhost (Good), self-signed, expired, or signed for another host name.
    enum class Cert { Good, SelfSigned, Expired, WrongHost };

    explicit TestServer(Mode mode = Mode::Http, Cert cert = Cert::Good);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    // Scripts the answer for `path` (the request target up to '?' or '#').
    // Unscripted paths get 404 with a short body.
    void Set(const std::string& path, Route route);
    // Scripts a series of answers for `path`: the n-th request gets routes[n], and
    // the last route answers every request after that (e.g. 503, 503, then 200).
    void SetSequence(const std::string& path, std::vector<Route> routes);

    // "http://127.0.0.1:PORT" + target (https:// in Https mode).
    std::string Url(const std::string& target) const;
    unsigned short Port() const;

    // Every request received so far, in arrival order.
    std::vector<RecordedRequest> Requests() const;
    // Requests whose target starts with `path`.
    std::vector<RecordedRequest> RequestsFor(const std::string& path) const;
    // Connections accepted so far (silent ones and ones that never sent a request too).
    std::size_t AcceptedConnections() const;

    // PEM file of the CA that signed the Good certificate (Https mode); "" for Http.
    std::string CaFile() const;

    // Accepts connections and never reads from them or answers (a TLS handshake
    // or a request that never gets anywhere).
    void SetSilent(bool silent);

    // Ends every open connection now (stalled ones included).
    void DropAll();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vtest
