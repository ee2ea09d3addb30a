// Pull-style body reads over libcurl's multi interface.
//
// libcurl pushes body data into the write callback; the reader pulls it out of a
// buffer. A chunk that does not fit pauses the transfer, and the reader resumes it
// once it has emptied the buffer, so a 256-byte read costs a memcpy and no system
// call almost every time.
#include <algorithm>
#include <cstring>
#include <new>

#include "internet.h"
#include "internet_request.h"

namespace brindlex::net {

namespace {
// Longest wait in curl_multi_poll: a close wakes the poll at once, and this cap
// only bounds how long a lost wake-up could keep a closed call waiting.
constexpr int kPollCapMs = 1000;
}  // namespace

// Worker thread, inside libcurl. Takes the whole chunk or pauses the transfer:
// libcurl hands a paused chunk over again when the reader resumes it.
std::size_t Request::OnBody(char* data, std::size_t size, std::size_t count, void* self) {
    auto* r = static_cast<Request*>(self);
    const std::size_t n = size * count;
    if (r->bodyTail_ + n > r->bodyCapacity_) {
        if (r->bodyHead_ != r->bodyTail_) {
            r->paused_ = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        r->bodyHead_ = r->bodyTail_ = 0;
        if (n > r->bodyCapacity_) {
            // A chunk larger than the whole buffer: libcurl never delivers one with
            // our buffer size, but growing is still better than failing.
            std::unique_ptr<char[]> larger(new (std::nothrow) char[n]);
            if (!larger) return 0;
            r->body_ = std::move(larger);
            r->bodyCapacity_ = n;
        }
    }
    std::memcpy(r->body_.get() + r->bodyTail_, data, n);
    r->bodyTail_ += n;
    return n;
}

// Worker thread.
bool Request::Perform() {
    int running = 0;
    if (curl_multi_perform(multi_, &running) != CURLM_OK) {
        done_ = true;
        doneCode_ = CURLE_RECV_ERROR;
        return false;
    }
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) {
            done_ = true;
            doneCode_ = message->data.result;
        }
    }
    return true;
}

// Worker thread. Returns on socket activity, on a timer libcurl asked for, on a
// close (curl_multi_wakeup) or after kPollCapMs.
void Request::WaitForActivity() { curl_multi_poll(multi_, nullptr, 0, kPollCapMs, nullptr); }

// Worker thread.
bool Request::Read(void* buf, std::size_t want, std::size_t* got) {
    *got = 0;
    if (!headersDone_ || IsClosed()) return false;
    for (;;) {
        if (bodyHead_ != bodyTail_) {
            const std::size_t n = std::min(want, bodyTail_ - bodyHead_);
            std::memcpy(buf, body_.get() + bodyHead_, n);
            bodyHead_ += n;
            if (bodyHead_ == bodyTail_) bodyHead_ = bodyTail_ = 0;
            *got = n;
            return true;
        }
        // Everything buffered is read: the end of the body, or its failure.
        if (done_) return doneCode_ == CURLE_OK;
        if (paused_) {
            paused_ = false;
            // May deliver the held-back chunk straight into the buffer.
            if (curl_easy_pause(easy_, CURLPAUSE_CONT) != CURLE_OK) {
                done_ = true;
                doneCode_ = CURLE_RECV_ERROR;
            }
            continue;
        }
        if (!Perform()) return false;
        if (bodyHead_ != bodyTail_ || done_) continue;
        WaitForActivity();
        if (IsClosed()) return false;
    }
}

bool InternetReadFile(VHINTERNET request, void* buf, std::size_t want, std::size_t* got) {
    Request* r = AsRequest(request);
    if (got != nullptr) *got = 0;
    if (r == nullptr || buf == nullptr || got == nullptr) return false;
    return r->Read(buf, want, got);
}

}  // namespace brindlex::net
