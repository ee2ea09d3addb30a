// A request's handles and the setup of each hop's easy handle.
#include "internet_request.h"

#include <strings.h>

#include <cstring>
#include <string>

#include "internet.h"
#include "network_thread.h"
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
      target_(std::move(target)),
      hasReferer_(referer != nullptr),
      referer_(referer != nullptr ? referer : ""),
      secure_(secure),
      proxy_(CurrentProxySetting()) {
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

// Whichever thread drops the last reference. A hop still current has its answer
// unread: the network thread drops it, which closes its connection.
Request::~Request() {
    SwitchHop(nullptr);
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

namespace {

// A hop's own copy of the header list: the request may go before the network
// thread has let go of the hop's handle.
curl_slist* CopyList(const curl_slist* list, bool* ok) {
    curl_slist* copy = nullptr;
    for (; list != nullptr; list = list->next) {
        curl_slist* grown = curl_slist_append(copy, list->data);
        if (grown == nullptr) {
            *ok = false;
            break;
        }
        copy = grown;
    }
    return copy;
}

}  // namespace

bool Request::StartHop(const std::string& url, bool customTarget, bool sameOrigin) {
    currentUrl_ = url;
    // The first hop goes to the origin's root, whose origin is the request's own.
    hopOrigin_ = customTarget ? origin_ : OriginOfUrl(url);

    CURL* easy = Hop::TakeEasy();
    if (easy == nullptr) return false;
    bool ok = true;
    curl_slist* headerList = CopyList(HeadersForHop(), &ok);
    // From here the hop owns both.
    auto hop = std::make_shared<Hop>(easy, headerList);
    auto set = [&](CURLoption option, auto value) {
        if (curl_easy_setopt(easy, option, value) != CURLE_OK) ok = false;
    };
    // The first hop sends the object exactly as the caller built it; a hop that
    // follows a Location sends what libcurl makes of that URL. libcurl sends a
    // custom target unchanged to a proxy too, which needs the whole URL there: a
    // plain HTTP hop that may go through one names the whole URL instead, and
    // libcurl writes the request line the way the route needs (without the
    // #fragment, which a URL on the wire never carries).
    const bool secureHop = curl_strnequal(url.c_str(), "https:", 6);
    if (customTarget && !secureHop && ProxyMayApply(proxy_, false)) {
        const std::string whole =
            origin_ + (!target_.empty() && target_.front() == '/' ? "" : "/") + target_;
        set(CURLOPT_URL, whole.c_str());
        set(CURLOPT_PATH_AS_IS, 1L);
    } else {
        set(CURLOPT_URL, url.c_str());
        if (customTarget) set(CURLOPT_REQUEST_TARGET, target_.c_str());
    }
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
    set(CURLOPT_HTTPHEADER, headerList);
    if (cookiesOn_) {
        // What the answer before (a redirect) set or changed goes on to this hop.
        // The network thread read it from that hop's engine before it marked the
        // headers complete, which the worker saw before it asked for this hop.
        if (hop_ != nullptr && hop_->headersDone() && hop_->cookiesRead()) {
            cookieJar_ = hop_->cookies();
        }
        // No file, and the share object holds no cookies: an engine of this hop's
        // handle alone, given the request's cookies. libcurl picks which of them
        // this hop's URL gets.
        set(CURLOPT_COOKIEFILE, "");
        for (const std::string& line : cookieJar_) set(CURLOPT_COOKIELIST, line.c_str());
        hop->KeepCookies();
    }
    if (hasReferer_ || refererInHeaders_) {
        const std::string referer = HopReferer(url, sameOrigin);
        // libcurl keeps its own copy of the text.
        if (!referer.empty()) set(CURLOPT_REFERER, referer.c_str());
    }
    // The proxy of the user's choice; the origin's certificate is checked all the
    // same, inside the tunnel.
    if (!ApplyProxy(easy, proxy_)) ok = false;
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    if (!SetTrustStore(easy)) ok = false;
    // A closed request must not wait for a name lookup that is still running when
    // its handles are freed.
    set(CURLOPT_QUICK_EXIT, 1L);
    set(CURLOPT_BUFFERSIZE, 64L * 1024);
    // TLS sessions and DNS answers of every transfer of the process; connections
    // are shared by the network thread's multi handle.
    set(CURLOPT_SHARE, NetworkShare());
    set(CURLOPT_HEADERFUNCTION, &Hop::OnHeader);
    set(CURLOPT_HEADERDATA, hop.get());
    set(CURLOPT_WRITEFUNCTION, &Hop::OnBody);
    set(CURLOPT_WRITEDATA, hop.get());
    const Connection& c = connection();
    if (sameOrigin && (!c.user.empty() || !c.password.empty())) {
        set(CURLOPT_USERNAME, c.user.c_str());
        set(CURLOPT_PASSWORD, c.password.c_str());
        // libcurl picks a connection for reuse whatever user sent the requests
        // before on it: a download with credentials gets a connection of its own,
        // and nobody else ever gets it.
        set(CURLOPT_FRESH_CONNECT, 1L);
        set(CURLOPT_FORBID_REUSE, 1L);
        hop->KeepEasyPrivate();
    }
    if (!ok) return false;
    SwitchHop(hop);
    if (IsClosed()) return false;
    NetworkAdd(std::move(hop));
    return true;
}

void Request::SwitchHop(std::shared_ptr<Hop> hop) {
    std::shared_ptr<Hop> old;
    {
        std::lock_guard lock(hopMutex_);
        old = std::exchange(hop_, std::move(hop));
    }
    if (old == nullptr) return;
    old->Abandon();
    NetworkDrop(std::move(old));
}

void Request::WakeSelf() {
    std::shared_ptr<Hop> hop;
    {
        std::lock_guard lock(hopMutex_);
        hop = hop_;
    }
    if (hop == nullptr) return;
    hop->Abandon();
    NetworkDrop(std::move(hop));
}

}  // namespace brindlex::net
