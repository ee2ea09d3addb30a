// If-Range on the hops it belongs to, and the origin of the final answer.
//
// A validator names a version of one server's resource: it is sent only to the
// origin that gave it. Another origin could not match it (it would only cost a
// whole download) and would learn an identifier that the first server handed out.
#include <curl/curl.h>

#include <string>

#include "internet.h"
#include "internet_request.h"
#include "internet_url_text.h"

namespace brindlex::net {

// "scheme://host:port" of `url`, the port filled in when the URL has none; ""
// when it cannot be parsed.
std::string Request::OriginOfUrl(const std::string& url) {
    UrlPtr parsed = ParseUrl(url.c_str());
    return parsed ? OriginOf(parsed.get()) : std::string();
}

bool Request::SetIfRange(const char* validator, const char* origin) {
    if (sent_ || validator == nullptr || origin == nullptr) return false;
    ifRange_ = validator;
    ifRangeOrigin_ = origin;
    return true;
}

// The caller's lines plus the If-Range line, for the hops to the validator's origin.
bool Request::BuildIfRangeList() {
    if (ifRange_.empty()) return true;
    for (const curl_slist* item = headerList_; item != nullptr; item = item->next) {
        curl_slist* grown = curl_slist_append(ifRangeList_, item->data);
        if (grown == nullptr) return false;
        ifRangeList_ = grown;
    }
    curl_slist* grown = curl_slist_append(ifRangeList_, ("If-Range: " + ifRange_).c_str());
    if (grown == nullptr) return false;
    ifRangeList_ = grown;
    return true;
}

curl_slist* Request::HeadersForHop() const {
    if (ifRangeList_ != nullptr && curl_strequal(hopOrigin_.c_str(), ifRangeOrigin_.c_str())) {
        return ifRangeList_;
    }
    return headerList_;
}

bool HttpSetIfRange(VHINTERNET request, const char* validator, const char* origin) {
    Request* r = AsRequest(request);
    return r != nullptr && r->SetIfRange(validator, origin);
}

bool HttpQueryOrigin(VHINTERNET request, std::string* origin) {
    const Request* r = AsRequest(request);
    if (r == nullptr || r->IsClosed() || origin == nullptr) return false;
    unsigned long status = 0;
    if (!r->Status(&status) || r->AnswerOrigin().empty()) return false;
    *origin = r->AnswerOrigin();
    return true;
}

}  // namespace brindlex::net
