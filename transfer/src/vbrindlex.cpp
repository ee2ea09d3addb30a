// The transfer object: construction, setters, handles, and the run with its watchdog.
// The fetch itself (MinorThread) is in fetch.cpp.
#include "brindlex/vbrindlex.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "internet.h"
#include "resume_validator.h"
#include "seams.h"

namespace {

constexpr char kAgent[] = "Vantorel 1.0";

// After a stop request, how long a worker may take to reach its next block boundary
// by itself before its internet handles are closed under it.
constexpr unsigned long kStopGraceMs = 250;

// Heap copy of `text`, or null when it cannot be allocated.
char* CopyText(const char* text) {
    const std::size_t size = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(size));
    if (copy != nullptr) std::memcpy(copy, text, size);
    return copy;
}

enum class Woke { WorkerEnded, Stop, Timeout };

// Run thread. Waits up to timeoutMs for the worker to end or, when `stop` is not
// null, for the stop event. Both are level-signalled, so nothing is consumed.
Woke WaitWorkerOrStop(VHANDLE worker, VHANDLE stop, unsigned long timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd fds[2] = {{VHandleFd(worker), POLLIN, 0}, {VHandleFd(stop), POLLIN, 0}};
    const nfds_t count = stop != nullptr ? 2 : 1;
    for (;;) {
        if (VIsSignalled(worker)) return Woke::WorkerEnded;
        if (stop != nullptr && VIsSignalled(stop)) return Woke::Stop;
        // Rounded up: a wait cut short by truncation would end a period early.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return Woke::Timeout;
        const int ready = poll(fds, count, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) return VIsSignalled(worker) ? Woke::WorkerEnded : Woke::Timeout;
    }
}

// Run thread, after it closed the worker's internet handles: waits for the worker
// without a time limit, closing again every second, because a handle the worker
// opened just after the close would otherwise leave it blocked for good.
template <typename CloseFn>
void WaitWorkerClosing(VHANDLE worker, CloseFn closeHandles) {
    while (WaitWorkerOrStop(worker, nullptr, 1000) != Woke::WorkerEnded) closeHandles();
}

}  // namespace

VBRINDLEX::VBRINDLEX()
    : internetHandle(nullptr),
      connectHandle(nullptr),
      requestHandle(nullptr),
      dataReceptor(nullptr),
      url(nullptr),
      referer(nullptr),
      flags(FLAG_TO_FILE),
      received(0),
      result(RESULT_OK),
      statusEvent(nullptr),
      thread(nullptr),
      stopEvent(nullptr),
      status(STATUS_WAIT),
      totalSize(0),
      agent(kAgent) {
    SetURL("");
}

VBRINDLEX::~VBRINDLEX() {
    std::free(url);
    std::free(referer);
    CloseHandles();
}

int VBRINDLEX::SetURL(const char* text) {
    char* copy = CopyText(text);
    if (copy == nullptr) return 0;
    std::free(url);
    url = copy;
    return 1;
}

int VBRINDLEX::SetReferer(const char* text) {
    char* copy = CopyText(text);
    if (copy == nullptr) return 0;
    std::free(referer);
    referer = copy;
    return 1;
}

const char* VBRINDLEX::GetURL() { return url; }

unsigned long VBRINDLEX::SetFlags(unsigned long value) { return flags.exchange(value); }

unsigned long VBRINDLEX::GetFlags() { return flags.load(); }

std::uintptr_t VBRINDLEX::SetDataReceptor(std::uintptr_t receptor) {
    const auto previous = reinterpret_cast<std::uintptr_t>(dataReceptor);
    if (receptor != 0) dataReceptor = reinterpret_cast<const char*>(receptor);
    return previous;
}

// Run thread (the caller's thread for a synchronous run).
unsigned long VBRINDLEX::Go() {
    flags.fetch_or(FLAG_ALIVE, std::memory_order_relaxed);
    VHANDLE worker = VCreateThread([this] { return MinorThread(); });
    if (worker == nullptr) return GoClose(nullptr, RESULT_OPEN_FAILED, STATUS_FAILED);

    auto closeHandles = [this] { CloseInternetHandles(); };
    bool timedOut = false;
    bool closedForStop = false;
    for (;;) {
        // Clear only the activity bit: the worker may be setting FLAG_NO_RANGE right now.
        flags.fetch_and(~FLAG_ALIVE, std::memory_order_relaxed);
        const Woke woke = WaitWorkerOrStop(worker, stopEvent, brindlex::seams::watchPeriodMs.load());
        if (woke == Woke::WorkerEnded) break;
        if (woke == Woke::Stop) {
            // The worker stops by itself at its next block boundary. One blocked in a
            // connect, a handshake, a header wait or a read would keep a shutdown
            // waiting for the watchdog, so its handles are closed under it.
            if (WaitWorkerOrStop(worker, nullptr, kStopGraceMs) != Woke::WorkerEnded) {
                closedForStop = true;
                CloseInternetHandles();
                WaitWorkerClosing(worker, closeHandles);
            }
            break;
        }
        if (flags.load(std::memory_order_relaxed) & FLAG_ALIVE) continue;
        // A whole period without activity: close the handles so the pending call fails.
        timedOut = true;
        CloseInternetHandles();
        WaitWorkerClosing(worker, closeHandles);
        break;
    }
    CloseInternetHandles();
    VCloseHandle(worker);
    if (timedOut) {
        result.store(RESULT_TIMEOUT);
    } else if (closedForStop && result.load() != RESULT_OK) {
        // The failure was our own doing: report the stop, not the broken call.
        result.store(RESULT_INTERRUPTED);
    }
    return result.load();
}

// Owner's thread.
VHANDLE VBRINDLEX::GoAsync() {
    CloseHandles();
    stopEvent = VCreateEvent(true, false);
    statusEvent = VCreateEvent(false, false);
    thread = VCreateThread([this] {
        const unsigned long code = Go();
        result.store(code);
        return code;
    });
    if (thread == nullptr) {
        // No run thread: the run fails at once, so the scheduler sees an ended run
        // instead of a job that looks idle for ever.
        GoClose(nullptr, RESULT_OPEN_FAILED, STATUS_FAILED);
    }
    return thread;
}

void VBRINDLEX::StopAsync() { VSetEvent(stopEvent); }

void VBRINDLEX::CloseHandles() {
    VCloseHandle(stopEvent);
    stopEvent = nullptr;
    VCloseHandle(statusEvent);
    statusEvent = nullptr;
    VCloseHandle(thread);
    thread = nullptr;
}

// Run thread, at any moment of the worker's run: a call pending on a closed handle fails.
void VBRINDLEX::CloseInternetHandles() {
    brindlex::net::InternetCloseHandle(requestHandle.exchange(nullptr));
    brindlex::net::InternetCloseHandle(connectHandle.exchange(nullptr));
    brindlex::net::InternetCloseHandle(internetHandle.exchange(nullptr));
}

// Worker thread. Called once per block: no system call when the activity bit is
// already set or the status event already signalled.
void VBRINDLEX::SetStatus(long long value) {
    if (!(flags.load(std::memory_order_relaxed) & FLAG_ALIVE)) {
        flags.fetch_or(FLAG_ALIVE, std::memory_order_relaxed);
    }
    status.store(value, std::memory_order_relaxed);
    if (statusEvent != nullptr) VSetEvent(statusEvent);
}

// Worker thread: the single exit of every fetch.
unsigned long VBRINDLEX::GoClose(std::FILE* file, unsigned long code, long long finalStatus) {
    // A complete file has nothing left to resume.
    if (file != nullptr) {
        if (finalStatus == STATUS_DONE) brindlex::ForgetResumeValidator(fileno(file));
        std::fclose(file);
    }
    flags.fetch_or(FLAG_ALIVE, std::memory_order_relaxed);
    status.store(finalStatus, std::memory_order_relaxed);
    if (statusEvent != nullptr) VSetEvent(statusEvent);
    result.store(code);
    return code;
}
