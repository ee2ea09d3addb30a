// Pull-style body reads: the network thread pushes the body into the hop's ring
// (transfer_hop.h), the reader pulls it out, so a 256-byte read costs a memcpy
// and no system call almost every time.
#include "internet.h"
#include "internet_request.h"
#include "network_thread.h"

namespace brindlex::net {

namespace {
// Longest sleep of a read: a close wakes it at once, and this cap only bounds how
// long a lost wake-up could keep a closed call waiting.
constexpr std::chrono::milliseconds kWaitCap{1000};
}  // namespace

// Worker thread.
bool Request::Read(void* buf, std::size_t want, std::size_t* got) {
    *got = 0;
    const std::shared_ptr<Hop>& hop = hop_;
    if (hop == nullptr || !hop->headersDone() || IsClosed()) return false;
    for (;;) {
        // Done first: every byte went into the ring before the transfer was done.
        const bool done = hop->done();
        const std::size_t n = hop->TakeBody(buf, want);
        if (hop->TakeResume()) NetworkResume(hop);
        if (n > 0) {
            *got = n;
            return true;
        }
        // Everything buffered is read: the end of the body, or its failure.
        if (done) return hop->doneCode() == CURLE_OK;
        if (IsClosed()) return false;
        hop->Wait([&] { return hop->HasNews() || IsClosed(); }, kWaitCap);
        if (IsClosed()) return false;
    }
}

std::size_t Request::Buffered() const {
    const std::shared_ptr<Hop>& hop = hop_;
    if (hop == nullptr || !hop->headersDone() || IsClosed()) return 0;
    return hop->Buffered();
}

std::size_t InternetBufferedBytes(VHINTERNET request) {
    Request* r = AsRequest(request);
    return r == nullptr ? 0 : r->Buffered();
}

bool InternetReadFile(VHINTERNET request, void* buf, std::size_t want, std::size_t* got) {
    Request* r = AsRequest(request);
    if (got != nullptr) *got = 0;
    if (r == nullptr || buf == nullptr || got == nullptr) return false;
    return r->Read(buf, want, got);
}

}  // namespace brindlex::net
