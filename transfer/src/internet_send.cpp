// Sending a request and following its redirects.
#include <curl/curl.h>

#include <memory>
#include <string>

#include "internet.h"
#include "internet_request.h"
#include "internet_url_text.h"
#include "transfer_hop.h"

namespace brindlex::net {

std::string OriginOf(CURLU* url) {
    char *scheme = nullptr, *host = nullptr, *port = nullptr;
    curl_url_get(url, CURLUPART_SCHEME, &scheme, 0);
    curl_url_get(url, CURLUPART_HOST, &host, 0);
    curl_url_get(url, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT);
    const bool whole = scheme != nullptr && host != nullptr && port != nullptr;
    std::string origin = TakeString(scheme) + "://" + TakeString(host) + ":" + TakeString(port);
    return whole ? origin : std::string();
}

namespace {

bool IsFollowedRedirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

// "scheme://host:port" of the connection, checked by libcurl's URL parser so that
// a host name can never smuggle a path or user into the URL; "" when it is not
// a usable host.
std::string Request::OriginUrl() const {
    UrlPtr url(curl_url());
    if (!url) return {};
    std::string host = connection().host;
    if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
    if (curl_url_set(url.get(), CURLUPART_SCHEME, secure_ ? "https" : "http", 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_HOST, host.c_str(), 0) != CURLUE_OK) {
        return {};
    }
    // Port 0 stands for the scheme's own port.
    if (connection().port != 0 &&
        curl_url_set(url.get(), CURLUPART_PORT, std::to_string(connection().port).c_str(), 0) !=
            CURLUE_OK) {
        return {};
    }
    return OriginOf(url.get());
}

// The URL the current hop's Location points to, resolved against the hop's own
// URL; false when there is none or it leads outside HTTP and HTTPS (the redirect
// is then the final answer). sameOrigin tells whether it stays on the origin the
// credentials were given for.
bool Request::NextHop(std::string* next, bool* sameOrigin) const {
    const std::string* location = Header("Location");
    if (location == nullptr || location->empty()) return false;
    // Resolved against the hop's URL as the parser reads it; what the server wrote
    // is escaped where it cannot stand in a URL.
    UrlPtr url = ParseUrl(currentUrl_.c_str());
    const unsigned flags = CURLU_NON_SUPPORT_SCHEME | CURLU_ALLOW_SPACE | CURLU_URLENCODE;
    if (!url || curl_url_set(url.get(), CURLUPART_URL, location->c_str(), flags) != CURLUE_OK) {
        return false;
    }
    char* scheme = nullptr;
    curl_url_get(url.get(), CURLUPART_SCHEME, &scheme, 0);
    const std::string schemeText = TakeString(scheme);
    if (!curl_strequal(schemeText.c_str(), "http") && !curl_strequal(schemeText.c_str(), "https")) {
        return false;
    }
    char* text = nullptr;
    if (curl_url_get(url.get(), CURLUPART_URL, &text, 0) != CURLUE_OK) return false;
    *next = TakeString(text);
    *sameOrigin = curl_strequal(OriginOf(url.get()).c_str(), origin_.c_str());
    return true;
}

// Worker thread. Drives the transfer until the final answer's headers are in,
// following at most kMaxRedirects redirects; after that many the last redirect is
// the final answer.
bool Request::Send(const char* headers) {
    if (IsClosed() || sent_) return false;
    sent_ = true;
    origin_ = OriginUrl();
    if (origin_.empty() || !BuildHeaderList(headers) || !BuildIfRangeList()) return false;
    if (!StartHop(origin_ + "/", true, true)) return false;
    // What a relative Location is resolved against.
    currentUrl_ = origin_ + (!target_.empty() && target_.front() == '/' ? "" : "/") + target_;
    int redirects = 0;
    for (;;) {
        const std::shared_ptr<Hop> hop = hop_;
        if (IsClosed()) return false;
        if (hop->headersDone()) {
            const long status = hop->status();
            std::string next;
            bool sameOrigin = false;
            if (redirects == kMaxRedirects || !IsFollowedRedirect(status) ||
                !NextHop(&next, &sameOrigin)) {
                // Only a success's body is ever read.
                return status >= 300 || LengthIsSound();
            }
            // What was asked for over HTTPS never continues in the clear: no
            // request, no credentials, no Referer leave unencrypted.
            if (curl_strnequal(currentUrl_.c_str(), "https:", 6) &&
                !curl_strnequal(next.c_str(), "https:", 6)) {
                return false;
            }
            ++redirects;
            // Credentials go only back to the origin they came with.
            if (!StartHop(next, false, sameOrigin)) return false;
            continue;
        }
        if (hop->done()) return false;
        hop->Wait([&] { return hop->headersDone() || hop->done() || IsClosed(); },
                  std::chrono::milliseconds(1000));
    }
}

// Worker thread. A proxy that could not be reached is NoConnect, one that refused
// the tunnel answers with its status; every other failure is the request's.
unsigned long Request::SendFailure() const {
    // What the network thread saw when the hop's transfer ended, if it did.
    const bool done = hop_ != nullptr && hop_->done();
    const unsigned long proxyCode =
        ProxyFailure(done ? hop_->connectCode() : 0, done ? hop_->doneCode() : CURLE_OK, proxy_,
                     curl_strnequal(currentUrl_.c_str(), "https:", 6));
    return proxyCode != 0 ? proxyCode : RESULT_BAD_SEND_REQUEST;
}

unsigned long HttpSendFailure(VHINTERNET request) {
    const Request* r = AsRequest(request);
    return r != nullptr ? r->SendFailure() : RESULT_BAD_SEND_REQUEST;
}

bool HttpSendRequest(VHINTERNET request, const char* headers) {
    Request* r = AsRequest(request);
    return r != nullptr && r->Send(headers != nullptr ? headers : "");
}

}  // namespace brindlex::net
