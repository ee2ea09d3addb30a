// The threads that VCreateThread runs its procedures on, kept for a while once
// their procedure has returned and handed the next one.
//
// Every run of a transfer has two threads (the run thread and its worker), and a
// busy queue starts runs by the hundred a second. A new thread costs a clone, a
// fresh stack mapped, faulted in page by page and given back when it ends: on a
// queue of small files that was most of the process's system time. A thread of
// the pool that finished its procedure waits up to kPoolIdleMs for another one
// and then ends, so an idle process still has no thread of the library's after
// that (a fork then copies a process with one thread). A procedure never waits
// for a thread: with none idle, a new one is started for it.
//
// Before a fork the idle threads end (and are joined): a process with no run in
// progress forks with one thread. A forked child starts with an empty pool of
// its own.
#pragma once

#include <functional>

namespace brindlex {

// How long a thread of the pool waits for its next procedure before it ends.
inline constexpr int kPoolIdleMs = 2000;

// Runs `procedure` on an idle thread of the pool, else on a new one. False when
// no thread could be started, or `procedure` is empty: it then does not run.
// Any thread.
bool RunOnPoolThread(std::function<void()> procedure);

// Threads of the pool now, idle or not (tests).
int PoolThreadCount();

}  // namespace brindlex
