#include "thread_pool.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "parker.h"
#include "process_id.h"

namespace brindlex {
namespace {

struct Pool {
    // One thread of the pool. An idle thread waits on a slot of its own, so a
    // hand-over wakes exactly the thread it picked, and that thread needs no lock
    // that every other hand-over takes to go on.
    struct Worker {
        std::thread thread;
        // Guarded by Pool::mutex: it has left its loop for good before a fork,
        // and the fork joins it.
        bool ended = false;
        // The slot. Whoever took this thread off the idle list (under
        // Pool::mutex) fills it exactly once, with a procedure or with none (the
        // word to leave), and then unparks it; the thread reads it only after that.
        Parker filled;
        std::function<void()> next;
    };

    const pid_t pid = CurrentProcessId();
    std::mutex mutex;
    std::condition_variable parted;  // a retired thread left its loop
    std::list<Worker> workers;       // started, neither joined nor let go
    // Waiting for a procedure, the latest last: it is taken first, so a steady
    // load keeps a few warm threads busy and lets the others end.
    std::vector<Worker*> idle;
    int leaving = 0;  // retired threads that have not left their loop yet

    // Takes the threads that have ended out of `workers`; the caller joins them
    // without the lock (each has returned or is just returning).
    std::vector<std::thread> TakeEnded() {
        std::vector<std::thread> ended;
        for (auto it = workers.begin(); it != workers.end();) {
            if (it->ended) {
                ended.push_back(std::move(it->thread));
                it = workers.erase(it);
            } else {
                ++it;
            }
        }
        return ended;
    }
};

void JoinAll(std::vector<std::thread>& threads) {
    for (std::thread& thread : threads) thread.join();
}

// Fills the slot of a thread just taken off the idle list.
void Hand(Pool::Worker* worker, std::function<void()> procedure) {
    worker->next = std::move(procedure);
    worker->filled.Unpark();
}

// Held across fork, so the child never inherits it locked.
std::mutex poolMutex;
// Never destroyed: an idle thread of it may still wait on it when the process
// ends. A forked child leaves the parent's behind (its threads are gone) and
// starts its own.
Pool* pool = nullptr;  // guarded by poolMutex

Pool* Existing() {
    std::lock_guard lock(poolMutex);
    return pool != nullptr && pool->pid == CurrentProcessId() ? pool : nullptr;
}

// Before a fork: the idle threads end and are joined, so a process with no run
// in progress forks with one thread, as it would without the pool.
void RetireIdleThreads() {
    Pool* p = Existing();
    if (p == nullptr) return;
    std::vector<Pool::Worker*> retired;
    {
        std::lock_guard lock(p->mutex);
        retired.swap(p->idle);
        p->leaving += static_cast<int>(retired.size());
    }
    for (Pool::Worker* worker : retired) Hand(worker, nullptr);
    std::vector<std::thread> ended;
    {
        std::unique_lock lock(p->mutex);
        p->parted.wait(lock, [p] { return p->leaving == 0; });
        ended = p->TakeEnded();
    }
    JoinAll(ended);
}

Pool& Current() {
    static std::once_flag atFork;
    std::call_once(atFork, [] {
        pthread_atfork(
            [] {
                RetireIdleThreads();
                poolMutex.lock();
            },
            [] { poolMutex.unlock(); }, [] { poolMutex.unlock(); });
    });
    std::lock_guard lock(poolMutex);
    if (pool == nullptr || pool->pid != CurrentProcessId()) pool = new Pool;
    return *pool;
}

enum class Next { Run, Leave, End };

// An idle thread: waits up to kPoolIdleMs for its slot to be filled. It ends
// only once it took itself off the idle list; after that nobody can pick it.
Next WaitForSlot(Pool* p, Pool::Worker* self, std::function<void()>* procedure) {
    if (!self->filled.Park(std::chrono::milliseconds(kPoolIdleMs))) {
        {
            std::lock_guard lock(p->mutex);
            const auto it = std::find(p->idle.begin(), p->idle.end(), self);
            if (it != p->idle.end()) {
                p->idle.erase(it);
                return Next::End;
            }
        }
        // A hand-over picked it just now: what it hands is on its way.
        self->filled.ParkUntilUnparked();
    }
    if (!self->next) return Next::Leave;
    *procedure = std::move(self->next);
    self->next = nullptr;
    return Next::Run;
}

// A thread of the pool: runs procedures until none comes for kPoolIdleMs.
void Serve(Pool* p, Pool::Worker* self, std::function<void()> procedure) {
    for (;;) {
        procedure();
        // Whatever the procedure held goes before the thread waits.
        procedure = nullptr;
        {
            std::lock_guard lock(p->mutex);
            p->idle.push_back(self);
        }
        switch (WaitForSlot(p, self, &procedure)) {
            case Next::Run:
                continue;
            case Next::Leave: {
                // The fork waits to join it, so that it is gone before the copy.
                std::lock_guard lock(p->mutex);
                self->ended = true;
                --p->leaving;
                p->parted.notify_all();
                return;
            }
            case Next::End: {
                // Nobody waits for it: it lets itself go, so that no ended thread
                // stays unjoined when the process exits.
                std::lock_guard lock(p->mutex);
                self->thread.detach();
                p->workers.remove_if([self](const Pool::Worker& w) { return &w == self; });
                return;
            }
        }
    }
}

}  // namespace

bool RunOnPoolThread(std::function<void()> procedure) {
    if (!procedure) return false;  // an empty slot tells a thread to leave
    Pool& p = Current();
    Pool::Worker* idle = nullptr;
    {
        std::lock_guard lock(p.mutex);
        if (!p.idle.empty()) {
            idle = p.idle.back();
            p.idle.pop_back();
        } else {
            try {
                Pool::Worker& worker = p.workers.emplace_back();
                try {
                    worker.thread = std::thread(Serve, &p, &worker, std::move(procedure));
                    return true;
                } catch (const std::system_error&) {
                    p.workers.pop_back();
                }
            } catch (const std::bad_alloc&) {
            }
            return false;
        }
    }
    Hand(idle, std::move(procedure));
    return true;
}

int PoolThreadCount() {
    Pool& p = Current();
    std::lock_guard lock(p.mutex);
    int count = 0;
    for (const Pool::Worker& worker : p.workers) count += worker.ended ? 0 : 1;
    return count;
}

}  // namespace brindlex
