// The answer's headers: collected by libcurl's header callback, queried by name.
#include <strings.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "internet.h"
#include "internet_request.h"

namespace brindlex::net {

namespace {

std::string_view Trim(std::string_view text) {
    const char* kSpace = " \t\r\n";
    const auto first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(kSpace);
    return text.substr(first, last - first + 1);
}

}  // namespace

// Worker thread, inside libcurl.
std::size_t Request::OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
    const std::size_t n = size * count;
    static_cast<Request*>(self)->OnHeaderLine(std::string_view(data, n));
    return n;
}

// libcurl passes the lines of every answer of the hop: interim 1xx answers come
// before the real one, and a chunked body may end with trailer lines. Each status
// line starts a new set; the empty line closing a non-1xx answer completes it.
void Request::OnHeaderLine(std::string_view line) {
    if (headersDone_) return;
    // An old-style continuation line belongs to the header before it.
    if (!line.empty() && (line.front() == ' ' || line.front() == '\t') && !headers_.empty()) {
        const std::string_view more = Trim(line);
        if (!more.empty()) headers_.back().second.append(" ").append(more);
        return;
    }
    line = Trim(line.substr(0, line.find_first_of("\r\n")));
    if (line.substr(0, 5) == "HTTP/") {
        headers_.clear();
        return;
    }
    if (line.empty()) {
        long code = 0;
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
        if (code >= 200) {
            status_ = code;
            headersDone_ = true;
        }
        return;
    }
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) return;
    headers_.emplace_back(std::string(Trim(line.substr(0, colon))),
                          std::string(Trim(line.substr(colon + 1))));
}

bool Request::Status(unsigned long* code) const {
    if (!headersDone_) return false;
    *code = static_cast<unsigned long>(status_);
    return true;
}

const std::string* Request::Header(std::string_view name) const {
    if (!headersDone_) return nullptr;
    for (const auto& [key, value] : headers_) {
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
    for (const auto& [key, value] : headers_) {
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
    if (!headersDone_ || easy_ == nullptr) return false;
    const std::string* value = Header("Content-Length");
    if (value == nullptr) return false;
    // libcurl's own size: none for a chunked body, whatever Content-Length says.
    curl_off_t framed = -1;
    if (curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &framed) != CURLE_OK ||
        framed < 0) {
        return false;
    }
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
