// The waitable-handle functions: events, thread handles, waiting and closing.
// Every function may be called from any thread; a handle must not be closed while
// another thread still uses it (the same contract as any descriptor).
#include "brindlex/vhandle.h"

#include <new>
#include <utility>

#include "thread_pool.h"
#include "vwaitable.h"

namespace {

using Kind = VWaitable::Kind;

// A new handle, or null when memory or descriptors ran out.
VHANDLE NewHandle(Kind kind) {
    VHANDLE handle = nullptr;
    try {
        handle = new VWaitable(kind);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (!handle->state->signal.Valid()) {
        delete handle;
        return nullptr;
    }
    return handle;
}

bool IsEvent(VHANDLE handle) { return handle != nullptr && handle->kind != Kind::kThread; }

}  // namespace

VHANDLE VCreateEvent(bool manualReset, bool initiallySignalled) {
    VHANDLE event = NewHandle(manualReset ? Kind::kManualEvent : Kind::kAutoEvent);
    if (event != nullptr && initiallySignalled) event->state->signal.Set();
    return event;
}

// Called by a transfer's worker after every block: keep it to one atomic exchange
// when the owner has not consumed the previous signal yet.
bool VSetEvent(VHANDLE event) { return IsEvent(event) && event->state->signal.Set(); }

bool VResetEvent(VHANDLE event) {
    if (!IsEvent(event)) return false;
    event->state->signal.Clear();
    return true;
}

bool VIsSignalled(VHANDLE handle) { return handle != nullptr && handle->state->signal.IsSet(); }

unsigned long VWait(VHANDLE handle, unsigned long timeoutMs) {
    if (handle == nullptr) return VWAIT_FAILED;
    return handle->state->signal.Wait(timeoutMs, handle->kind == Kind::kAutoEvent);
}

int VHandleFd(VHANDLE handle) { return handle == nullptr ? -1 : handle->state->signal.Fd(); }

VHANDLE VCreateThread(std::function<unsigned long()> procedure) {
    if (!procedure) return nullptr;
    VHANDLE handle = NewHandle(Kind::kThread);
    if (handle == nullptr) return nullptr;
    // The thread keeps its own reference to the shared state, so the handle may
    // be closed (and freed) while the procedure still runs.
    const bool started = brindlex::RunOnPoolThread(
        [state = handle->state, procedure = std::move(procedure)]() mutable {
            const unsigned long code = procedure();
            // Whatever the procedure owned is released before anyone can see the
            // thread as ended.
            procedure = nullptr;
            state->exitCode = code;
            state->signal.Set();  // release: publishes exitCode and the procedure's writes
        });
    if (!started) {
        delete handle;
        return nullptr;
    }
    return handle;
}

bool VGetExitCode(VHANDLE thread, unsigned long* code) {
    if (thread == nullptr || code == nullptr || thread->kind != Kind::kThread) return false;
    if (!thread->state->signal.IsSet()) return false;  // acquire: exitCode is final
    *code = thread->state->exitCode;
    return true;
}

// The procedure's thread, if it still runs, holds the shared state and goes on
// alone; once it has ended, its thread belongs to the pool (thread_pool.h).
void VCloseHandle(VHANDLE handle) { delete handle; }
