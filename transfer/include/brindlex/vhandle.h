// Waitable handles: events and thread ends, on eventfd and threads.
//
// A handle is signalled or not. Each one owns an eventfd that is readable exactly
// while the handle is signalled, so an event loop (Qt's QSocketNotifier, poll) can
// watch any number of them at once without timers.
//
// Every function may be called from any thread. A null handle is never waited on:
// waiting on it fails at once, and closing it does nothing. A handle must not be
// closed while another call on it runs or may still begin, with one exception: once
// a wait (or VIsSignalled) has seen it signalled, it may be closed even though the
// VSetEvent that signalled it may not have returned yet.
#pragma once

#include <functional>

struct VWaitable;
using VHANDLE = VWaitable*;

constexpr unsigned long V_INFINITE = 0xFFFFFFFFUL;

// Values of VWait.
constexpr unsigned long VWAIT_SIGNALLED = 0;
constexpr unsigned long VWAIT_TIMEOUT = 258;
constexpr unsigned long VWAIT_FAILED = 0xFFFFFFFFUL;

// An event. An automatic-reset event is reset by the wait that sees it signalled;
// a manual-reset event stays signalled until VResetEvent. Null when out of resources.
VHANDLE VCreateEvent(bool manualReset, bool initiallySignalled);

// Setting an event that is already signalled makes no system call: a transfer
// sets its status event once per 256-byte block.
bool VSetEvent(VHANDLE event);
bool VResetEvent(VHANDLE event);

// True while the handle is signalled; never waits and never resets anything.
bool VIsSignalled(VHANDLE handle);

// Waits up to timeoutMs (V_INFINITE or more: no limit) for the handle to be signalled.
// 0 tests without waiting. Returns VWAIT_SIGNALLED, VWAIT_TIMEOUT or VWAIT_FAILED
// (null handle). Resets an automatic-reset event it reports as signalled.
unsigned long VWait(VHANDLE handle, unsigned long timeoutMs);

// The descriptor that is readable while the handle is signalled; -1 for null.
// Watch it for readability only: never read or write it directly. An automatic
// event stays readable until a VWait consumes it, and an ended thread's stays
// readable for good, so a watcher must consume or stop watching. Stop watching
// before the handle is closed: the library hands the descriptor on to a later
// handle rather than closing it.
int VHandleFd(VHANDLE handle);

// Starts `procedure` on a thread of its own (a new one, or one of the library's
// that finished an earlier procedure and waits for the next). The handle becomes signalled once the
// procedure has returned, so whatever it stored before returning is visible to
// anyone who saw the handle signalled. Null when no thread could be started.
VHANDLE VCreateThread(std::function<unsigned long()> procedure);

// The value the thread's procedure returned; false while it still runs or for an event.
bool VGetExitCode(VHANDLE thread, unsigned long* code);

// Releases the handle. A thread that still runs goes on by itself and cleans up
// after itself. The thread itself may outlive its procedure: the library keeps
// threads for a while for the next procedures (at most 2 s idle).
void VCloseHandle(VHANDLE handle);
