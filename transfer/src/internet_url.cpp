// URL text: splitting a URL into its parts, cleaning it for a Referer, and
// escaping a request object for the request line. libcurl's URL parser does all
// the parsing; what is ours is the decoding of escapes and the caller's limits.
#include <curl/curl.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "internet.h"
#include "internet_url_text.h"

namespace brindlex::net {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes %XX escapes; a '%' not followed by two hex digits stays as it is. False
// when an escape decodes to NUL, which would silently cut the part short.
bool Decode(std::string_view in, std::string* out) {
    out->clear();
    out->reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '%' && i + 2 < in.size() && HexValue(in[i + 1]) >= 0 &&
            HexValue(in[i + 2]) >= 0) {
            char c = static_cast<char>(HexValue(in[i + 1]) * 16 + HexValue(in[i + 2]));
            if (c == '\0') return false;
            out->push_back(c);
            i += 2;
        } else {
            out->push_back(in[i]);
        }
    }
    return true;
}

// Reads one part as it stands in the URL; a part the URL lacks reads as "".
// False on any other failure.
bool GetPart(CURLU* url, CURLUPart which, std::string* out, unsigned flags = 0) {
    char* text = nullptr;
    CURLUcode rc = curl_url_get(url, which, &text, flags);
    if (rc != CURLUE_OK) {
        out->clear();
        switch (rc) {
            case CURLUE_NO_USER:
            case CURLUE_NO_PASSWORD:
            case CURLUE_NO_HOST:
            case CURLUE_NO_PORT:
            case CURLUE_NO_QUERY:
            case CURLUE_NO_FRAGMENT:
                return true;
            default:
                return false;
        }
    }
    out->assign(text);
    curl_free(text);
    return true;
}

bool GetDecodedPart(CURLU* url, CURLUPart which, std::string* out) {
    std::string raw;
    return GetPart(url, which, &raw) && Decode(raw, out);
}

// Copies text and its NUL into buf; false when it does not fit.
bool Store(const std::string& text, char* buf, std::size_t size) {
    if (text.size() >= size) return false;
    std::memcpy(buf, text.c_str(), text.size() + 1);
    return true;
}

}  // namespace

UrlPtr ParseUrl(const char* url) {
    UrlPtr handle(curl_url());
    if (!handle || url == nullptr) return nullptr;
    // Any scheme splits (the fetch refuses the ones it cannot fetch with a code of
    // its own); the path keeps its dot segments because the object is sent as it
    // stands; spaces, which people do type into URLs, are taken as they come.
    const unsigned flags = CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS | CURLU_ALLOW_SPACE;
    if (curl_url_set(handle.get(), CURLUPART_URL, url, flags) != CURLUE_OK) return nullptr;
    return handle;
}

bool CrackUrl(const char* url, UrlParts* parts) {
    if (url == nullptr || parts == nullptr) return false;
    // Every text empty: the parts hold 17 KiB, and zeroing them whole (a fresh
    // UrlParts assigned) cost more than the split of a short URL.
    for (char* text :
         {parts->scheme, parts->host, parts->user, parts->password, parts->path, parts->extra}) {
        text[0] = '\0';
    }
    parts->port = 0;
    parts->schemeId = Scheme::Unknown;
    parts->object.clear();
    if (std::strlen(url) > kMaxUrlLength) return false;
    UrlPtr handle = ParseUrl(url);
    if (!handle) return false;

    std::string scheme, host, user, password, path, query, fragment, port;
    if (!GetPart(handle.get(), CURLUPART_SCHEME, &scheme) ||
        !GetPart(handle.get(), CURLUPART_HOST, &host) ||
        !GetDecodedPart(handle.get(), CURLUPART_USER, &user) ||
        !GetDecodedPart(handle.get(), CURLUPART_PASSWORD, &password) ||
        !GetDecodedPart(handle.get(), CURLUPART_PATH, &path) ||
        !GetDecodedPart(handle.get(), CURLUPART_QUERY, &query) ||
        !GetDecodedPart(handle.get(), CURLUPART_FRAGMENT, &fragment) ||
        !GetPart(handle.get(), CURLUPART_PORT, &port, CURLU_DEFAULT_PORT)) {
        return false;
    }

    // The extra information starts at the first '?' or '#'. The parser drops the
    // '?' and '#' marks; put them back, keeping a query that was given empty.
    std::string extra;
    char* rawQuery = nullptr;
    if (curl_url_get(handle.get(), CURLUPART_QUERY, &rawQuery, 0) == CURLUE_OK) {
        extra = "?" + query;
        curl_free(rawQuery);
    }
    if (!fragment.empty()) extra += "#" + fragment;

    std::string rawPath, rawQueryText, rawFragment;
    if (!GetPart(handle.get(), CURLUPART_PATH, &rawPath) ||
        !GetPart(handle.get(), CURLUPART_QUERY, &rawQueryText) ||
        !GetPart(handle.get(), CURLUPART_FRAGMENT, &rawFragment)) {
        return false;
    }
    parts->object = rawPath;
    if (extra.size() > 0 && extra[0] == '?') parts->object += "?" + rawQueryText;
    if (!rawFragment.empty()) parts->object += "#" + rawFragment;

    if (!Store(scheme, parts->scheme, sizeof parts->scheme) ||
        !Store(host, parts->host, sizeof parts->host) ||
        !Store(user, parts->user, sizeof parts->user) ||
        !Store(password, parts->password, sizeof parts->password) ||
        !Store(path, parts->path, sizeof parts->path) ||
        !Store(extra, parts->extra, sizeof parts->extra)) {
        return false;
    }
    // The parser has checked the port: digits, at most 65535.
    parts->port = static_cast<unsigned>(std::strtoul(port.c_str(), nullptr, 10));
    if (curl_strequal(parts->scheme, "http")) {
        parts->schemeId = Scheme::Http;
    } else if (curl_strequal(parts->scheme, "https")) {
        parts->schemeId = Scheme::Https;
    } else {
        parts->schemeId = Scheme::Unknown;
    }
    return true;
}

std::string WithoutCredentials(const char* url) {
    UrlPtr parsed = ParseUrl(url);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_USER, nullptr, 0) != CURLUE_OK ||
        curl_url_set(parsed.get(), CURLUPART_PASSWORD, nullptr, 0) != CURLUE_OK ||
        curl_url_set(parsed.get(), CURLUPART_OPTIONS, nullptr, 0) != CURLUE_OK) {
        return {};
    }
    char* text = nullptr;
    curl_url_get(parsed.get(), CURLUPART_URL, &text, 0);
    return TakeString(text);
}

std::string RefererOrigin(const char* url) {
    UrlPtr parsed = ParseUrl(url);
    if (!parsed) return {};
    for (const CURLUPart part : {CURLUPART_USER, CURLUPART_PASSWORD, CURLUPART_OPTIONS,
                                 CURLUPART_QUERY, CURLUPART_FRAGMENT}) {
        if (curl_url_set(parsed.get(), part, nullptr, 0) != CURLUE_OK) return {};
    }
    char* text = nullptr;
    if (curl_url_set(parsed.get(), CURLUPART_PATH, "/", 0) != CURLUE_OK) return {};
    curl_url_get(parsed.get(), CURLUPART_URL, &text, CURLU_NO_DEFAULT_PORT);
    return TakeString(text);
}

std::string EscapeForRequestLine(std::string_view object) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(object.size());
    for (char ch : object) {
        auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F) {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        } else {
            out.push_back(ch);
        }
    }
    return out;
}

}  // namespace brindlex::net
