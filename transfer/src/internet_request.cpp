// A request's handles and the setup of each hop's easy handle.
#include "internet_request.h"

#include <strings.h>

#include <cstring>
#include <string>

#include "internet.h"
#include "trust_store.h"

namespace brindlex::net {

namespace {

// Whether the additional header text carries a line called `name`.
bool HasLine(const char* headers, std::string_view name) {
    const char* line = headers;
    while (*line != '\0') {
        while (*line == '\r' || *line == '\n') ++line;
        if (strncasecmp(line, name.data(), name.size()) == 0 && line[name.size()] == ':') {
            return true;
        }
        line += std::strcspn(line, "\r\n");
    }
    return false;
}

}  // namespace

Request::Request(Connection* connection, std::string target, const char* referer, bool secure)
    : VInternetObject(Kind::Request, connection),
      multi_(curl_multi_init()),
      target_(std::move(target)),
      hasReferer_(referer != nullptr),
      referer_(referer != nullptr ? referer : ""),
      secure_(secure),
      body_(new (std::nothrow) char[kBodyCapacity]) {
    // Only cookie-file lines (they hold tabs): a line such as "ALL" or "FLUSH"
    // would be a command to the engine, not a cookie.
    const std::string& lines = connection->session().cookies;
    for (std::size_t start = 0; start < lines.size();) {
        std::size_t end = lines.find('\n', start);
        if (end == std::string::npos) end = lines.size();
        std::string line = lines.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\t') != std::string::npos) cookieJar_.push_back(std::move(line));
        start = end + 1;
    }
    cookiesOn_ = !cookieJar_.empty();
}

// Whichever thread drops the last reference; no other thread can reach the
// handles by now.
Request::~Request() {
    EndHop();
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
    curl_slist_free_all(headerList_);
    curl_slist_free_all(ifRangeList_);
}

// Fixed lines first, then the caller's lines as given. A fixed line the caller
// also gives is left out, so no header goes out twice.
bool Request::BuildHeaderList(const char* headers) {
    static const char* const kFixed[][2] = {
        // Never an answer from a cache on the way: ask every cache to revalidate.
        {"Cache-Control", "Cache-Control: no-cache"},
        {"Pragma", "Pragma: no-cache"},
    };
    for (const auto& fixed : kFixed) {
        if (HasLine(headers, fixed[0])) continue;
        curl_slist* grown = curl_slist_append(headerList_, fixed[1]);
        if (grown == nullptr) return false;
        headerList_ = grown;
    }
    const char* line = headers;
    while (*line != '\0') {
        std::size_t length = std::strcspn(line, "\r\n");
        const std::string text(line, length);
        if (strncasecmp(text.c_str(), "Referer:", 8) == 0) {
            // A Referer line of the caller's replaces the referer argument, so
            // exactly one goes out; the first one counts.
            if (!refererInHeaders_) {
                const std::size_t value = text.find_first_not_of(" \t", 8);
                lineReferer_ = value != std::string::npos ? text.substr(value) : "";
                refererInHeaders_ = true;
            }
        } else if (length > 0) {
            curl_slist* grown = curl_slist_append(headerList_, text.c_str());
            if (grown == nullptr) return false;
            headerList_ = grown;
        }
        line += length;
        while (*line == '\r' || *line == '\n') ++line;
    }
    return true;
}

// The Referer of one hop. The header list goes to every hop alike, so the line is
// made here: another origin learns only the origin of the page (never its path,
// whose query may hold a signed link's token, nor its #fragment), and a page
// asked for over HTTPS is never named to a server over plain HTTP.
std::string Request::HopReferer(const std::string& url, bool sameOrigin) const {
    const std::string& referer = refererInHeaders_ ? lineReferer_ : referer_;
    if (secure_ && !curl_strnequal(url.c_str(), "https:", 6)) return {};
    return sameOrigin ? referer : RefererOrigin(referer.c_str());
}

bool Request::StartHop(const std::string& url, bool customTarget, bool sameOrigin) {
    EndHop();
    currentUrl_ = url;
    hopOrigin_ = OriginOfUrl(url);
    status_ = 0;
    headersDone_ = false;
    headers_.clear();
    done_ = false;
    doneCode_ = CURLE_OK;
    bodyHead_ = bodyTail_ = 0;
    paused_ = false;

    easy_ = curl_easy_init();
    if (easy_ == nullptr) return false;
    bool ok = true;
    auto set = [&](CURLoption option, auto value) {
        if (curl_easy_setopt(easy_, option, value) != CURLE_OK) ok = false;
    };
    set(CURLOPT_URL, url.c_str());
    // The first hop sends the object exactly as the caller built it; a hop that
    // follows a Location sends what libcurl makes of that URL.
    if (customTarget) set(CURLOPT_REQUEST_TARGET, target_.c_str());
    set(CURLOPT_HTTPGET, 1L);
    // Redirects are ours to follow: with a custom target libcurl would ask for the
    // first object again on every hop.
    set(CURLOPT_FOLLOWLOCATION, 0L);
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    // One request, one answer: HTTP/1.1 keeps the wire as the tests' server and
    // most download servers speak it, with no stream flow control in the way of
    // pausing and resuming the body.
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    const std::string& agent = connection().session().agent;
    if (!agent.empty()) set(CURLOPT_USERAGENT, agent.c_str());
    set(CURLOPT_HTTPHEADER, HeadersForHop());
    if (cookiesOn_) {
        // No file, no share: an engine of this hop's handle alone, given the
        // request's cookies. libcurl picks which of them this hop's URL gets.
        set(CURLOPT_COOKIEFILE, "");
        for (const std::string& line : cookieJar_) set(CURLOPT_COOKIELIST, line.c_str());
    }
    if (hasReferer_ || refererInHeaders_) {
        const std::string referer = HopReferer(url, sameOrigin);
        // libcurl keeps its own copy of the text.
        if (!referer.empty()) set(CURLOPT_REFERER, referer.c_str());
    }
    // Direct connections only: an empty proxy also keeps libcurl from taking one
    // from the environment.
    set(CURLOPT_PROXY, "");
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    if (!SetTrustStore(easy_)) ok = false;
    // A closed request must not wait for a name lookup that is still running when
    // its handles are freed.
    set(CURLOPT_QUICK_EXIT, 1L);
    set(CURLOPT_BUFFERSIZE, 64L * 1024);
    set(CURLOPT_HEADERFUNCTION, &Request::OnHeader);
    set(CURLOPT_HEADERDATA, this);
    set(CURLOPT_WRITEFUNCTION, &Request::OnBody);
    set(CURLOPT_WRITEDATA, this);
    const Connection& c = connection();
    if (sameOrigin && (!c.user.empty() || !c.password.empty())) {
        set(CURLOPT_USERNAME, c.user.c_str());
        set(CURLOPT_PASSWORD, c.password.c_str());
    }
    if (!ok) return false;
    if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
        curl_easy_cleanup(easy_);
        easy_ = nullptr;
        return false;
    }
    return true;
}

void Request::EndHop() {
    if (easy_ == nullptr) return;
    if (cookiesOn_) {
        // What the hop's answer set or changed goes on to the next hop.
        curl_slist* known = nullptr;
        if (curl_easy_getinfo(easy_, CURLINFO_COOKIELIST, &known) == CURLE_OK) {
            cookieJar_.clear();
            for (curl_slist* item = known; item != nullptr; item = item->next) {
                cookieJar_.emplace_back(item->data);
            }
            curl_slist_free_all(known);
        }
    }
    curl_multi_remove_handle(multi_, easy_);
    curl_easy_cleanup(easy_);
    easy_ = nullptr;
}

}  // namespace brindlex::net
