// The answer's headers: collected by libcurl's header callback, queried by name.
#include <strings.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "internet.h"
#include "internet_request.h"
#include "internet_url_text.h"

namespace brindlex::net {

bool Request::Status(unsigned long* code) const {
    if (hop_ == nullptr || !hop_->headersDone()) return false;
    *code = static_cast<unsigned long>(hop_->status());
    return true;
}

const std::string* Request::Header(std::string_view name) const {
    if (hop_ == nullptr || !hop_->headersDone()) return nullptr;
    for (const auto& [key, value] : hop_->headers()) {
        if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0) {
            return &value;
        }
    }
    return nullptr;
}

namespace {

// A Content-Length value: plain decimal digits that fit libcurl's signed 64-bit
// size. Anything else (a sign, a unit, a prefix libcurl's own reader would take
// as the number) is no length.
bool ParseLength(std::string_view text, std::uint64_t* length) {
    constexpr std::uint64_t kLargest = static_cast<std::uint64_t>(INT64_MAX);
    if (text.empty()) return false;
    std::uint64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (n > (kLargest - digit) / 10) return false;
        n = n * 10 + digit;
    }
    *length = n;
    return true;
}

}  // namespace

// Worker thread, once the final answer's headers are in. libcurl frames the body
// by its own reading of Content-Length, which takes "12abc" as 12 and the last of
// two differing lines; the fetch takes the first. When they could differ, a body
// cut short would count as complete, or a longer one would be cut and called
// done. So the answer counts only when every Content-Length line (and every item
// of a comma list) names the same number.
bool Request::LengthIsSound() const {
    bool seen = false;
    std::uint64_t first = 0;
    for (const auto& [key, value] : hop_->headers()) {
        if (strcasecmp(key.c_str(), "Content-Length") != 0) continue;
        std::string_view items = value;
        for (;;) {
            const auto comma = items.find(',');
            std::uint64_t n = 0;
            if (!ParseLength(Trim(items.substr(0, comma)), &n)) return false;
            if (seen && n != first) return false;
            seen = true;
            first = n;
            if (comma == std::string_view::npos) break;
            items.remove_prefix(comma + 1);
        }
    }
    return true;
}

bool Request::FramedLength(std::uint64_t* length) const {
    const std::string* value = Header("Content-Length");
    if (value == nullptr) return false;
    // libcurl's own size: none for a chunked body, whatever Content-Length says.
    const curl_off_t framed = hop_->framedSize();
    if (framed < 0) return false;
    std::uint64_t n = 0;
    const std::string_view text = *value;
    if (!ParseLength(Trim(text.substr(0, text.find(','))), &n) ||
        static_cast<std::uint64_t>(framed) != n) {
        return false;
    }
    *length = n;
    return true;
}

namespace {

// The request behind a handle that may still be queried; null otherwise.
const Request* Queryable(VHINTERNET handle) {
    const Request* r = AsRequest(handle);
    return r != nullptr && !r->IsClosed() ? r : nullptr;
}

const std::string* FindHeader(VHINTERNET handle, const char* name) {
    const Request* r = Queryable(handle);
    return r != nullptr && name != nullptr ? r->Header(name) : nullptr;
}

}  // namespace

bool HttpQueryStatusCode(VHINTERNET request, unsigned long* code) {
    const Request* r = Queryable(request);
    return r != nullptr && code != nullptr && r->Status(code);
}

bool HttpQueryHeader(VHINTERNET request, const char* name, char* buf, std::size_t bufSize) {
    const std::string* value = FindHeader(request, name);
    if (value == nullptr || buf == nullptr || value->size() >= bufSize) return false;
    std::memcpy(buf, value->c_str(), value->size() + 1);
    return true;
}

bool HttpQueryLastModified(VHINTERNET request, std::time_t* when) {
    const std::string* value = FindHeader(request, "Last-Modified");
    if (value == nullptr || when == nullptr) return false;
    const std::time_t parsed = curl_getdate(value->c_str(), nullptr);
    if (parsed == -1) return false;
    *when = parsed;
    return true;
}

bool HttpQueryContentLength(VHINTERNET request, std::uint64_t* length) {
    const Request* r = Queryable(request);
    return r != nullptr && length != nullptr && r->FramedLength(length);
}

bool HttpHasHeader(VHINTERNET request, const char* name) {
    return FindHeader(request, name) != nullptr;
}

}  // namespace brindlex::net
