// Text helpers of the internet layer shared between its files.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>
#include <string_view>

namespace brindlex::net {

// Owns a libcurl URL handle.
struct UrlDeleter {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
using UrlPtr = std::unique_ptr<CURLU, UrlDeleter>;

// Every URL text of the library is read by libcurl's parser with these rules
// (any scheme, dot segments and spaces kept as written), so the request, the
// Referer and the redirect rules never disagree on where the user name, the host
// or the path are, in `http:/u:p@h/` and `http:///u:p@h/` too. Null when the
// text is not a URL.
UrlPtr ParseUrl(const char* url);

// The request object as it goes on the request line: every byte that cannot stand
// there (space, control and non-ASCII) becomes %XX; the rest is left as it is.
std::string EscapeForRequestLine(std::string_view object);

// The text libcurl handed out (null: ""), which is freed.
inline std::string TakeString(char* text) {
    std::string out = text != nullptr ? text : "";
    curl_free(text);
    return out;
}

// The text without the spaces, tabs and line ends around it (header values).
inline std::string_view Trim(std::string_view text) {
    const char* kSpace = " \t\r\n";
    const auto first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(kSpace);
    return text.substr(first, last - first + 1);
}

// "scheme://host:port" of a parsed URL, the port filled in when the URL has
// none; "" when a part is missing.
std::string OriginOf(CURLU* url);

}  // namespace brindlex::net
