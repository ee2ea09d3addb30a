#include "transfer_hop.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "internet_url_text.h"
#include "kept_list.h"

namespace brindlex::net {

Hop::Hop(CURL* easy, curl_slist* headerList)
    : easy_(easy), headerList_(headerList), ring_(TakeRing()) {}

namespace {
// Easy handles of ended hops, for the next ones: a fresh handle is a large
// allocation and its clean-up frees it again, once per download. Runs end in
// bursts of dozens on a busy queue; fewer kept would miss a third of the time.
struct KeptEasyHandles {
    using Item = CURL*;
    static constexpr std::size_t kCapacity = 64;
    // A child forgets the parent's handles without touching them: they are tied
    // to the parent's shared caches, whose locks a thread of the parent may have
    // held at the fork. The child makes its own.
    static void InChild(std::vector<CURL*>& handles) { handles.clear(); }
};
using KeptEasy = KeptList<KeptEasyHandles>;

void GiveBackEasy(CURL* easy) {
    // Reset only what is kept, and keep it quiet: a reset also undoes
    // CURLOPT_NOSIGNAL, without which libcurl's clean-up swaps the process's
    // SIGPIPE action out and back, racing every other thread that does the same.
    if (KeptEasy::HasRoom()) {
        curl_easy_reset(easy);
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        if (KeptEasy::GiveBack(easy)) return;
    }
    curl_easy_cleanup(easy);
}

// Rings of ended hops, for the next ones: enough for a busy queue's turnover,
// few enough that an idle process keeps little. Plain memory: a child may use
// what it inherited.
struct KeptRingBuffers {
    using Item = char*;
    static constexpr std::size_t kCapacity = 16;
    static void InChild(std::vector<char*>&) {}
};
using KeptRings = KeptList<KeptRingBuffers>;
}  // namespace

CURL* Hop::TakeEasy() {
    CURL* easy = nullptr;
    return KeptEasy::Take(&easy) ? easy : curl_easy_init();
}

// The last holder: the easy handle is in no multi handle any more.
Hop::~Hop() {
    if (easy_ != nullptr) {
        if (keepCookies_ || credentials_) {
            curl_easy_cleanup(easy_);
        } else {
            GiveBackEasy(easy_);
        }
    }
    curl_slist_free_all(headerList_);
}

char* Hop::TakeRing() {
    char* ring = nullptr;
    return KeptRings::Take(&ring) ? ring : new (std::nothrow) char[kRingSize];
}

void Hop::RingGiveBack::operator()(char* ring) const {
    if (!KeptRings::GiveBack(ring)) delete[] ring;
}

namespace {
// Network thread: the hops whose workers wait for a wake-up that an open batch
// holds back.
struct WakeBatch {
    bool open = false;
    std::vector<Hop*> held;
};
thread_local WakeBatch wakeBatch;
}  // namespace

void Hop::Notify() {
    if (!waiting_.load()) return;
    if (!wakeBatch.open) {
        parker_.Unpark();
    } else if (!heldWake_) {
        heldWake_ = true;
        wakeBatch.held.push_back(this);
    }
}

void Hop::OpenWakeBatch() { wakeBatch.open = true; }

void Hop::CloseWakeBatch() {
    wakeBatch.open = false;
    for (Hop* hop : wakeBatch.held) {
        hop->heldWake_ = false;
        hop->parker_.Unpark();
    }
    wakeBatch.held.clear();
}

// Network thread, inside libcurl. Takes the whole chunk or pauses the transfer:
// libcurl hands a paused chunk over again when it is resumed.
std::size_t Hop::OnBody(char* data, std::size_t size, std::size_t count, void* self) {
    auto* hop = static_cast<Hop*>(self);
    const std::size_t n = size * count;
    if (hop->ring_ == nullptr || n > kRingSize) return 0;  // fails the transfer
    const std::size_t tail = hop->tail_.load(std::memory_order_relaxed);
    const std::size_t used = tail - hop->head_.load(std::memory_order_acquire);
    if (kRingSize - used < n) {
        hop->paused_.store(true);
        hop->Notify();
        return CURL_WRITEFUNC_PAUSE;
    }
    const std::size_t at = tail & (kRingSize - 1);
    const std::size_t first = std::min(n, kRingSize - at);
    std::memcpy(hop->ring_.get() + at, data, first);
    std::memcpy(hop->ring_.get(), data + first, n - first);
    hop->tail_.store(tail + n);
    hop->Notify();
    return n;
}

// Worker thread.
std::size_t Hop::TakeBody(void* buf, std::size_t want) {
    const std::size_t head = head_.load(std::memory_order_relaxed);
    const std::size_t buffered = tail_.load(std::memory_order_acquire) - head;
    const std::size_t n = std::min(want, buffered);
    if (n == 0) return 0;
    const std::size_t at = head & (kRingSize - 1);
    const std::size_t first = std::min(n, kRingSize - at);
    std::memcpy(buf, ring_.get() + at, first);
    std::memcpy(static_cast<char*>(buf) + first, ring_.get(), n - first);
    head_.store(head + n, std::memory_order_release);
    return n;
}

bool Hop::TakeResume() {
    if (!paused_.load()) return false;
    const std::size_t used = tail_.load() - head_.load(std::memory_order_relaxed);
    if (kRingSize - used < kResumeRoom && used != 0) return false;
    return paused_.exchange(false);
}

// Network thread, inside libcurl.
std::size_t Hop::OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
    const std::size_t n = size * count;
    static_cast<Hop*>(self)->OnHeaderLine(std::string_view(data, n));
    return n;
}

// libcurl passes the lines of every answer of the hop: interim 1xx answers come
// before the real one, and a chunked body may end with trailer lines. Each status
// line starts a new set; the empty line closing a non-1xx answer completes it.
void Hop::OnHeaderLine(std::string_view line) {
    if (headersDone_.load(std::memory_order_relaxed)) return;
    // An old-style continuation line belongs to the header before it.
    if (!line.empty() && (line.front() == ' ' || line.front() == '\t') && !headers_.empty()) {
        const std::string_view more = Trim(line);
        if (!more.empty()) headers_.back().second.append(" ").append(more);
        return;
    }
    line = Trim(line.substr(0, line.find_first_of("\r\n")));
    if (line.substr(0, 5) == "HTTP/") {
        headers_.clear();
        return;
    }
    if (line.empty()) {
        long code = 0;
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
        if (code >= 200) {
            status_ = code;
            // libcurl's framing of the body is settled with the last header line.
            curl_off_t framed = -1;
            if (curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &framed) == CURLE_OK) {
                framedSize_ = framed;
            }
            // Every Set-Cookie line of the answer came before this empty line.
            if (keepCookies_) ReadCookies();
            headersDone_.store(true);
            Notify();
        }
        return;
    }
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) return;
    headers_.emplace_back(std::string(Trim(line.substr(0, colon))),
                          std::string(Trim(line.substr(colon + 1))));
}

void Hop::ReadCookies() {
    curl_slist* known = nullptr;
    if (curl_easy_getinfo(easy_, CURLINFO_COOKIELIST, &known) != CURLE_OK) return;
    for (curl_slist* item = known; item != nullptr; item = item->next) {
        cookies_.emplace_back(item->data);
    }
    curl_slist_free_all(known);
    cookiesRead_ = true;
}

void Hop::OnDone(CURLcode code) {
    doneCode_ = code;
    long connect = 0;
    if (curl_easy_getinfo(easy_, CURLINFO_HTTP_CONNECTCODE, &connect) == CURLE_OK) {
        connectCode_ = connect;
    }
    done_.store(true);
    Notify();
}

void Hop::Abandon() {
    abandoned_.store(true);
    // Always: rare, and it must reach a worker about to wait.
    parker_.Unpark();
}

void Hop::Wait(const std::function<bool()>& ready, std::chrono::milliseconds cap) {
    waiting_.store(true);
    if (!ready() && !abandoned_.load()) parker_.Park(cap);
    waiting_.store(false);
}

}  // namespace brindlex::net
