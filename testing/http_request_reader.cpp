#include "http_request_reader.h"

#include <strings.h>

#include <algorithm>

#include "server_connection.h"

namespace vtest {
namespace {

// Larger heads are not requests any client of ours sends.
constexpr std::size_t kMaxHead = 1 << 20;

std::string_view Trim(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && space(text.front())) text.remove_prefix(1);
    while (!text.empty() && space(text.back())) text.remove_suffix(1);
    return text;
}

// Splits off the next line, accepting "\r\n" or a bare "\n" as its end.
std::string_view NextLine(std::string_view& text) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

}  // namespace

std::string RecordedRequest::Header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (strcasecmp(key.c_str(), name.c_str()) == 0) return value;
    }
    return "";
}

bool RecordedRequest::HasHeader(const std::string& name) const {
    return std::any_of(headers.begin(), headers.end(), [&](const auto& header) {
        return strcasecmp(header.first.c_str(), name.c_str()) == 0;
    });
}

bool ParseRequestHead(std::string_view head, RecordedRequest* out) {
    const std::string_view requestLine = NextLine(head);
    const std::size_t firstSpace = requestLine.find(' ');
    const std::size_t lastSpace = requestLine.rfind(' ');
    if (firstSpace == std::string_view::npos || lastSpace == firstSpace) return false;
    out->method = requestLine.substr(0, firstSpace);
    out->target = requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1);
    out->version = requestLine.substr(lastSpace + 1);
    out->headers.clear();
    while (!head.empty()) {
        const std::string_view line = NextLine(head);
        if (line.empty()) break;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) return false;
        out->headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                                  std::string(Trim(line.substr(colon + 1))));
    }
    return true;
}

bool ReadRequest(ServerConnection& connection, RecordedRequest* out) {
    std::string data;
    char buffer[4096];
    for (;;) {
        const long n = connection.Read(buffer, sizeof buffer);
        if (n <= 0) return false;
        const std::size_t searchFrom = data.size() < 3 ? 0 : data.size() - 3;
        data.append(buffer, static_cast<std::size_t>(n));
        std::size_t end = data.find("\r\n\r\n", searchFrom);
        if (end == std::string::npos) end = data.find("\n\n", searchFrom);
        if (end != std::string::npos)
            return ParseRequestHead(std::string_view(data).substr(0, end), out);
        if (data.size() > kMaxHead) return false;
    }
}

std::string_view TargetPath(std::string_view target) {
    return target.substr(0, target.find_first_of("?#"));
}

}  // namespace vtest
