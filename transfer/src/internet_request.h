// The three kinds of internet object and the request's transfer state.
//
// A request has, per redirect hop, one easy handle, which the network thread
// drives (network_thread.h) and whose answer it hands over through the hop
// (transfer_hop.h). The thread that calls HttpSendRequest, the queries and
// InternetReadFile (the fetch's worker) sets each hop up and waits on it; another
// thread touches the request only through Close, which gives the hop up and has
// the network thread drop it, and through the last Release, which does the same.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "brindlex/vbrindlex.h"
#include "internet_object.h"
#include "proxy_setting.h"
#include "transfer_hop.h"

namespace brindlex::net {

class Session final : public VInternetObject {
public:
    Session(std::string agentText, std::string cookieLines)
        : VInternetObject(Kind::Session, nullptr),
          agent(std::move(agentText)),
          cookies(std::move(cookieLines)) {}
    const std::string agent;
    // Netscape cookie-file lines, one per line; "" for none.
    const std::string cookies;
};

class Connection final : public VInternetObject {
public:
    Connection(Session* session, std::string hostName, unsigned portNumber, std::string userName,
               std::string passwordText)
        : VInternetObject(Kind::Connection, session),
          host(std::move(hostName)),
          port(portNumber),
          user(std::move(userName)),
          password(std::move(passwordText)) {}
    const Session& session() const { return *static_cast<const Session*>(parent()); }
    const std::string host;
    const unsigned port;
    const std::string user;
    const std::string password;
};

class Request final : public VInternetObject {
public:
    // Request target as it goes on the wire; referer null for none.
    Request(Connection* connection, std::string target, const char* referer, bool secure);
    ~Request() override;


    // Worker thread.
    bool Send(const char* headers);
    // After a failed Send: the result code the failure stands for.
    unsigned long SendFailure() const;
    bool Read(void* buf, std::size_t want, std::size_t* got);
    std::size_t Buffered() const;
    // The final answer's status; false before its headers are complete.
    bool Status(unsigned long* code) const;
    // The first header called `name` (case-insensitive), value trimmed; null when
    // absent or when the final answer's headers are not complete.
    const std::string* Header(std::string_view name) const;
    // The body's length as libcurl frames it; false when the body runs to its end
    // instead (no length given, or a chunked body, whose framing overrides any
    // Content-Length).
    bool FramedLength(std::uint64_t* length) const;
    // internet_if_range.cpp. Before Send: the If-Range line and the origin whose
    // hops get it. Then, the origin of the current hop's answer.
    bool SetIfRange(const char* validator, const char* origin);
    const std::string& AnswerOrigin() const { return hopOrigin_; }

private:
    // Any thread, under the parent's child lock or the closer's reference: gives
    // the current hop up, which wakes the worker waiting on it.
    void WakeSelf() override;

    const Connection& connection() const { return *static_cast<const Connection*>(parent()); }

    // internet_request.cpp: one hop on a fresh easy handle. sameOrigin: the hop
    // stays on the origin of the first one (credentials and a whole Referer go).
    bool StartHop(const std::string& url, bool customTarget, bool sameOrigin);
    std::string HopReferer(const std::string& url, bool sameOrigin) const;
    // Worker thread: makes `hop` the current one, gives the one before up.
    void SwitchHop(std::shared_ptr<Hop> hop);
    bool BuildHeaderList(const char* headers);
    // internet_if_range.cpp
    static std::string OriginOfUrl(const std::string& url);
    bool BuildIfRangeList();
    curl_slist* HeadersForHop() const;
    // internet_send.cpp
    std::string OriginUrl() const;
    bool NextHop(std::string* url, bool* sameOrigin) const;
    // internet_headers.cpp
    bool LengthIsSound() const;

    static constexpr int kMaxRedirects = 10;

    curl_slist* headerList_ = nullptr;
    const std::string target_;
    const bool hasReferer_;
    const std::string referer_;
    const bool secure_;
    // The proxy choice as it stood when the request was made, for every hop.
    const ProxySetting proxy_;
    // The caller's Referer line, which replaces the referer argument; it is kept
    // out of the header list because each hop gets its own (HopReferer).
    bool refererInHeaders_ = false;
    std::string lineReferer_;
    bool sent_ = false;
    // "scheme://host:port" of the first hop, and the URL of the current hop, for
    // resolving a relative Location.
    std::string origin_;
    std::string currentUrl_;
    // If-Range value, the origin it is for, and the header list that carries it.
    std::string ifRange_;
    std::string ifRangeOrigin_;
    curl_slist* ifRangeList_ = nullptr;
    std::string hopOrigin_;
    // The request's own cookie store, carried from hop to hop (each hop's easy
    // handle has an engine of its own): Netscape lines. Off when the session has
    // no cookies.
    bool cookiesOn_ = false;
    std::vector<std::string> cookieJar_;

    // The current hop. Written by the worker under hopMutex_, which a closer
    // takes to read it; the worker reads it without.
    std::mutex hopMutex_;
    std::shared_ptr<Hop> hop_;
};

// The request behind a handle; null for null or for another kind of handle.
inline Request* AsRequest(VHINTERNET handle) {
    if (handle == nullptr || handle->kind != VInternetObject::Kind::Request) return nullptr;
    return static_cast<Request*>(handle);
}

}  // namespace brindlex::net
