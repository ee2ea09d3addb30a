#include "route_answer.h"

#include <strings.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>

namespace vtest {
namespace {

struct ByteRange {
    std::uint64_t first;
    std::optional<std::uint64_t> last;  // inclusive; none for "N-"
};

std::optional<std::uint64_t> ParseNumber(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return {};
    return value;
}

std::optional<ByteRange> ParseRange(const std::string& header) {
    constexpr std::string_view kPrefix = "bytes=";
    if (header.size() < kPrefix.size() ||
        strncasecmp(header.c_str(), kPrefix.data(), kPrefix.size()) != 0) {
        return {};
    }
    const std::string_view ranges = std::string_view(header).substr(kPrefix.size());
    const std::size_t dash = ranges.find('-');
    if (dash == std::string_view::npos) return {};
    const auto first = ParseNumber(ranges.substr(0, dash));
    if (!first) return {};
    const std::string_view lastText = ranges.substr(dash + 1);
    if (lastText.empty()) return ByteRange{*first, {}};
    const auto last = ParseNumber(lastText);
    if (!last || *last < *first) return {};
    return ByteRange{*first, last};
}

const char* ReasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 206:
            return "Partial Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 304:
            return "Not Modified";
        case 307:
            return "Temporary Redirect";
        case 308:
            return "Permanent Redirect";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 416:
            return "Range Not Satisfiable";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

// If-Range holds a validator of the version the client has; without one the
// range always counts. An ETag matches only when strong, a date only exactly.
bool IfRangeHolds(const Route& route, const RecordedRequest& request) {
    if (!request.HasHeader("If-Range")) return true;
    const std::string value = request.Header("If-Range");
    if (!route.etag.empty() && route.etag.rfind("W/", 0) != 0 && value == route.etag) return true;
    return !route.lastModified.empty() && value == route.lastModified;
}

}  // namespace

std::uint64_t ResourceLength(const Route& route) {
    return route.body ? route.body->size() : route.size;
}

Route NotFoundRoute() {
    Route route;
    route.status = 404;
    route.body = "Not Found\n";
    route.acceptRanges = false;
    return route;
}

AnswerPlan PlanAnswer(const Route& route, const RecordedRequest& request) {
    const std::uint64_t total = ResourceLength(route);
    AnswerPlan plan;
    plan.bodyEnd = total;
    int status = route.status;
    std::optional<std::string> contentRange;

    if (route.contentRange) {
        contentRange = route.contentRange;
        plan.bodyStart = std::min(route.bodyOffset, total);
    } else if (status == 200 && (route.acceptRanges || route.rangeWithoutAcceptRanges)) {
        const auto range = ParseRange(request.Header("Range"));
        if (range && IfRangeHolds(route, request)) {
            if (range->first >= total) {
                status = 416;
                contentRange = "bytes */" + std::to_string(total);
                plan.bodyStart = total;
            } else {
                plan.bodyStart = range->first;
                if (range->last) plan.bodyEnd = std::min(*range->last + 1, total);
                status = 206;
                contentRange = "bytes " + std::to_string(plan.bodyStart) + "-" +
                               std::to_string(plan.bodyEnd - 1) + "/" + std::to_string(total);
            }
        }
    }

    std::string& head = plan.head;
    head = "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) + "\r\n";
    // One answer per connection keeps the server simple; clients must not wait
    // for a second one. A keep-alive route lets them ask again.
    if (!route.keepAlive) head += "Connection: close\r\n";
    if (route.acceptRanges) head += "Accept-Ranges: bytes\r\n";
    if (contentRange) head += "Content-Range: " + *contentRange + "\r\n";
    if (route.contentLength) {
        if (!route.contentLength->empty())
            head += "Content-Length: " + *route.contentLength + "\r\n";
    } else if (route.framing == Route::Framing::Length) {
        head += "Content-Length: " + std::to_string(plan.bodyEnd - plan.bodyStart) + "\r\n";
    }
    if (route.framing == Route::Framing::Chunked) head += "Transfer-Encoding: chunked\r\n";
    if (!route.lastModified.empty()) head += "Last-Modified: " + route.lastModified + "\r\n";
    if (!route.etag.empty()) head += "ETag: " + route.etag + "\r\n";
    if (!route.location.empty()) head += "Location: " + route.location + "\r\n";
    for (const std::string& line : route.extraHeaders) head += line + "\r\n";
    head += "\r\n";
    return plan;
}

}  // namespace vtest
