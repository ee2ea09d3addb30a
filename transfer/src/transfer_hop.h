// One hop of a request: its easy handle and what the network thread hands the
// fetch worker from it (the answer's headers, the body, the end of the transfer).
//
// The network thread drives the easy handle and runs its callbacks; the worker
// waits for the headers and pulls the body. The body passes through a
// single-producer, single-consumer ring, so a 256-byte read costs a memcpy and
// two atomic operations; the worker sleeps only when the ring is empty, and the
// network thread wakes it only when it sleeps. A chunk that does not fit pauses
// the transfer (CURL_WRITEFUNC_PAUSE); the worker asks the network thread to
// resume it once the ring has room. Nothing here ever blocks the network thread.
//
// The hop is shared (std::shared_ptr) between the request and the network
// thread, which holds it while the easy handle is in its multi handle. The last
// holder frees the easy handle, by then in no multi handle.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "parker.h"

namespace brindlex::net {

class Hop {
public:
    // Takes the easy handle and the header list its CURLOPT_HTTPHEADER points to.
    Hop(CURL* easy, curl_slist* headerList);
    // A fresh easy handle, or one an ended hop gave back with every option reset;
    // null when out of memory.
    static CURL* TakeEasy();
    ~Hop();
    Hop(const Hop&) = delete;
    Hop& operator=(const Hop&) = delete;

    CURL* easy() const { return easy_; }
    // Worker thread, before the hop is posted: the handle has a cookie engine of
    // its own, whose cookies the network thread copies out when the answer's
    // headers are complete (for the next hop of a redirect).
    void KeepCookies() { keepCookies_ = true; }
    // Worker thread, before the hop is posted: the handle carries credentials.
    // Like one with cookies, it is freed at the end, never given to another hop:
    // a reset clears the options, not everything a transfer leaves in the handle.
    void KeepEasyPrivate() { credentials_ = true; }

    // --- Network thread, inside libcurl. ---
    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
    // Network thread, at CURLMSG_DONE or when the handle could not be added.
    void OnDone(CURLcode code);
    // Network thread. While a batch is open, the wake-ups of waiting workers are
    // held back and given all at once when it closes: a small answer's headers,
    // body and end come in one turn of the network thread, and its worker is
    // better woken once, for all of it, than for each. Every hop held must stay
    // alive until the batch closes.
    static void OpenWakeBatch();
    static void CloseWakeBatch();

    // --- Any thread. ---
    // The hop is given up (a close, a redirect, the request's end): wakes a worker
    // waiting on it. The owner then asks the network thread to drop it.
    void Abandon();
    bool abandoned() const { return abandoned_.load(); }

    // --- Worker thread. ---
    // Waits until `ready` holds, something changed on the hop, or `cap` passed.
    void Wait(const std::function<bool()>& ready, std::chrono::milliseconds cap);
    bool headersDone() const { return headersDone_.load(); }
    bool done() const { return done_.load(); }
    // After done(): how the transfer ended, and the proxy's answer to a CONNECT.
    CURLcode doneCode() const { return doneCode_; }
    long connectCode() const { return connectCode_; }
    // After headersDone(): the final answer of this hop.
    long status() const { return status_; }
    const std::vector<std::pair<std::string, std::string>>& headers() const { return headers_; }
    // libcurl's own size of the body, -1 when it runs to its end (chunked, none given).
    curl_off_t framedSize() const { return framedSize_; }
    // After headersDone(), with KeepCookies: whether the engine's cookies were
    // read, and they as Netscape cookie-file lines.
    bool cookiesRead() const { return cookiesRead_; }
    const std::vector<std::string>& cookies() const { return cookies_; }
    // Body bytes buffered, ready for TakeBody.
    std::size_t Buffered() const {
        return tail_.load(std::memory_order_acquire) - head_.load(std::memory_order_relaxed);
    }
    // Copies at most `want` buffered body bytes; 0 when none are buffered.
    std::size_t TakeBody(void* buf, std::size_t want);
    // Body bytes buffered, a pause to lift or the end of the transfer.
    bool HasNews() const {
        return tail_.load() != head_.load(std::memory_order_relaxed) || paused_.load() ||
               done_.load();
    }
    // True once when the transfer is paused and the ring has room again: the
    // caller then asks the network thread to resume it.
    bool TakeResume();

private:
    void OnHeaderLine(std::string_view line);
    // Network thread, inside libcurl: the engine holds every cookie of the answer.
    void ReadCookies();
    // Network thread: wakes the worker if it waits.
    void Notify();

    static constexpr std::size_t kRingSize = 256 * 1024;  // a power of two
    // Room asked for before a resume: libcurl's largest chunk (CURLOPT_BUFFERSIZE).
    static constexpr std::size_t kResumeRoom = 64 * 1024;

    CURL* const easy_;
    curl_slist* const headerList_;

    // Written by the network thread before headersDone_ / done_ is set, read by
    // the worker after it saw the flag.
    long status_ = 0;
    std::vector<std::pair<std::string, std::string>> headers_;
    curl_off_t framedSize_ = -1;
    bool keepCookies_ = false;  // set before the hop is posted
    bool credentials_ = false;  // set before the hop is posted
    bool cookiesRead_ = false;
    std::vector<std::string> cookies_;
    CURLcode doneCode_ = CURLE_OK;
    long connectCode_ = 0;
    std::atomic<bool> headersDone_{false};
    std::atomic<bool> done_{false};
    std::atomic<bool> abandoned_{false};

    // The ring: [head_, tail_) are buffered, both counting bytes since the start.
    struct RingGiveBack {
        void operator()(char* ring) const;
    };
    // Rings are kept for the next hops: a fresh one is a large allocation, with
    // its pages faulted in and, after the free, often handed back to the kernel.
    static char* TakeRing();
    std::unique_ptr<char[], RingGiveBack> ring_;
    std::atomic<std::size_t> head_{0};  // written by the worker
    std::atomic<std::size_t> tail_{0};  // written by the network thread
    std::atomic<bool> paused_{false};

    // The worker's sleep: it sets waiting_, then checks its condition; the
    // network thread changes state first, then unparks it when waiting_ is set
    // (sequentially consistent, so no wake is lost). A wake that comes after the
    // worker saw the change anyway only makes its next wait return early.
    Parker parker_;
    bool heldWake_ = false;  // network thread: in the open wake batch
    std::atomic<bool> waiting_{false};
};

}  // namespace brindlex::net
