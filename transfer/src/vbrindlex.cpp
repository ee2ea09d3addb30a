// The transfer object: construction, setters, handles, and the run with its watchdog.
// The fetch itself (MinorThread) is in fetch.cpp.
#include "brindlex/vbrindlex.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "internet.h"
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
        if (ready < 0 && errno != EINTR)
            return VIsSignalled(worker) ? Woke::WorkerEnded : Woke::Timeout;
    }
}

// Run thread, after it closed the worker's internet handles: waits for the worker
// without a time limit, closing again every second, because a handle the worker
// opened just after the close would otherwise leave it blocked for good.
template <typename CloseFn>
void WaitWorkerClosing(VHANDLE worker, CloseFn closeHandles) {
    while (WaitWorkerOrStop(worker, nullptr, 1000) != Woke::WorkerEnded) closeHandles();
}

// Owner's thread. A run started by GoAsync lasts until its thread handle is
// signalled: until then its threads use the events and the handle.
bool RunInProgress(VHANDLE thread) { return thread != nullptr && !VIsSignalled(thread); }

}  // namespace

// Owner's thread, like every setter below: never during a run.
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
      agent(kAgent),
      cookies(nullptr),
      refererIsPage(0),
      speedLimit(0),
      fileError(0),
      connections(1),
      connectionsInUse(0) {
    SetURL("");
}

// Owner's thread, once the run (if any) has ended.
VBRINDLEX::~VBRINDLEX() {
    std::free(url);
    std::free(referer);
    std::free(cookies);
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

int VBRINDLEX::SetCookies(const char* lines) {
    char* copy = nullptr;
    if (lines != nullptr && (copy = CopyText(lines)) == nullptr) return 0;
    std::free(cookies);
    cookies = copy;
    return 1;
}

const char* VBRINDLEX::GetURL() { return url; }

unsigned long VBRINDLEX::SetFlags(unsigned long value) {
    return flags.exchange(value, std::memory_order_relaxed);
}

// Any thread.
unsigned long VBRINDLEX::GetFlags() { return flags.load(std::memory_order_relaxed); }

std::uintptr_t VBRINDLEX::SetDataReceptor(std::uintptr_t receptor) {
    const auto previous = reinterpret_cast<std::uintptr_t>(dataReceptor);
    if (receptor != 0) dataReceptor = reinterpret_cast<const char*>(receptor);
    return previous;
}

// Run thread (the caller's thread for a synchronous run).
unsigned long VBRINDLEX::Go() {
    fileError.store(0, std::memory_order_relaxed);
    flags.fetch_or(FLAG_ALIVE, std::memory_order_relaxed);
    VHANDLE worker = VCreateThread([this] { return MinorThread(); });
    if (worker == nullptr) return GoClose(-1, RESULT_OPEN_FAILED, STATUS_FAILED);

    auto closeHandles = [this] { CloseInternetHandles(); };
    bool timedOut = false;
    bool closedForStop = false;
    for (;;) {
        // Clear only the activity bit: the worker may be setting FLAG_NO_RANGE right now.
        flags.fetch_and(~FLAG_ALIVE, std::memory_order_relaxed);
        const Woke woke =
            WaitWorkerOrStop(worker, stopEvent, brindlex::seams::watchPeriodMs.load());
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
        result.store(RESULT_TIMEOUT, std::memory_order_relaxed);
    } else if (closedForStop && result.load(std::memory_order_relaxed) != RESULT_OK) {
        // The failure was our own doing: report the stop, not the broken call.
        result.store(RESULT_INTERRUPTED, std::memory_order_relaxed);
    }
    return result.load(std::memory_order_relaxed);
}

// Owner's thread. Refused (null, nothing touched) while the previous run is still
// in progress: closing its handles would pull them from under its threads.
VHANDLE VBRINDLEX::GoAsync() {
    if (RunInProgress(thread)) return nullptr;
    CloseHandles();
    stopEvent = VCreateEvent(true, false);
    statusEvent = VCreateEvent(false, false);
    thread = VCreateThread([this] {
        const unsigned long code = Go();
        result.store(code, std::memory_order_relaxed);
        return code;
    });
    if (thread == nullptr) {
        // No run thread: the run fails at once, so the scheduler sees an ended run
        // instead of a job that looks idle for ever.
        GoClose(-1, RESULT_OPEN_FAILED, STATUS_FAILED);
    }
    return thread;
}

// Any thread, while the owner keeps the handles.
void VBRINDLEX::StopAsync() { VSetEvent(stopEvent); }

// Owner's thread (GoAsync and the destructor call it too). Never during a run:
// while the run thread has not ended it does nothing, and the handles stay for
// the run and for a later call.
void VBRINDLEX::CloseHandles() {
    if (RunInProgress(thread)) return;
    VCloseHandle(stopEvent);
    stopEvent = nullptr;
    VCloseHandle(statusEvent);
    statusEvent = nullptr;
    VCloseHandle(thread);
    thread = nullptr;
}

// Run thread, at any moment of the worker's run: a call pending on a closed handle fails.
void VBRINDLEX::CloseInternetHandles() {
    brindlex::net::InternetCloseHandle(requestHandle.exchange(nullptr, std::memory_order_acquire));
    brindlex::net::InternetCloseHandle(connectHandle.exchange(nullptr, std::memory_order_acquire));
    brindlex::net::InternetCloseHandle(internetHandle.exchange(nullptr, std::memory_order_acquire));
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

// The single exit of every fetch: the worker thread at the end of its fetch. Also
// the run thread (Go) when no worker could be started, and the owner's thread
// (GoAsync) when no run thread could be: then no other thread of the run exists,
// so nothing else writes these members at the same time.
unsigned long VBRINDLEX::GoClose(int file, unsigned long code, long long finalStatus) {
    // The system's reason, before the close below can change errno. A file
    // problem with no failed call behind it (no output path) leaves 0.
    if (code == RESULT_FILE_PROBLEM) fileError.store(errno, std::memory_order_relaxed);
    if (file >= 0) close(file);
    connectionsInUse.store(0, std::memory_order_relaxed);
    flags.fetch_or(FLAG_ALIVE, std::memory_order_relaxed);
    status.store(finalStatus, std::memory_order_relaxed);
    if (statusEvent != nullptr) VSetEvent(statusEvent);
    result.store(code, std::memory_order_relaxed);
    return code;
}
