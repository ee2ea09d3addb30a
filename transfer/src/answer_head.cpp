#include "answer_head.h"

#include <cstring>

#include "internet.h"

namespace brindlex {

bool ReadAnswerHead(VHINTERNET request, AnswerHead* head) {
    *head = AnswerHead{};
    bool readable = net::HttpQueryStatusCode(request, &head->status);
    char buffer[2048];
    if (net::HttpQueryHeader(request, "Accept-Ranges", buffer, sizeof buffer)) {
        head->advertisesRanges = std::strstr(buffer, "bytes") != nullptr;
    } else if (net::HttpHasHeader(request, "Accept-Ranges")) {
        readable = false;  // there, but too long to read
    }
    if (!net::HttpQueryLastModified(request, &head->modified)) head->modified = std::time(nullptr);
    head->hasLength = net::HttpQueryContentLength(request, &head->announced);
    head->hasRangeText =
        net::HttpQueryHeader(request, "Content-Range", head->rangeText, sizeof head->rangeText);
    head->hasRangeHeader = head->hasRangeText || net::HttpHasHeader(request, "Content-Range");
    return readable && !net::InternetIsClosed(request);
}

}  // namespace brindlex
