#include "thread_pool.h"

#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace brindlex {
namespace {

struct Pool {
    // One thread of the pool; `ended` once it has left its loop for good before
    // a fork, and joined by the fork.
    struct Worker {
        std::thread thread;
        bool ended = false;
    };

    const pid_t pid = getpid();
    std::mutex mutex;
    std::condition_variable wake;    // a procedure waits, or the idle threads must go
    std::condition_variable parted;  // an idle thread retired before a fork
    std::deque<std::function<void()>> waiting;  // handed over, not yet taken
    std::list<Worker> workers;                  // started, neither joined nor let go
    int idle = 0;                               // threads waiting for a procedure
    bool retire = false;                        // idle threads end now (before a fork)

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

// Held across fork, so the child never inherits it locked.
std::mutex poolMutex;
// Never destroyed: an idle thread of it may still wait on it when the process
// ends. A forked child leaves the parent's behind (its threads are gone) and
// starts its own.
Pool* pool = nullptr;  // guarded by poolMutex

Pool* Existing() {
    std::lock_guard lock(poolMutex);
    return pool != nullptr && pool->pid == getpid() ? pool : nullptr;
}

// Before a fork: the idle threads end and are joined, so a process with no run
// in progress forks with one thread, as it would without the pool.
void RetireIdleThreads() {
    Pool* p = Existing();
    if (p == nullptr) return;
    std::vector<std::thread> ended;
    {
        std::unique_lock lock(p->mutex);
        p->retire = true;
        p->wake.notify_all();
        p->parted.wait(lock, [p] { return p->idle == 0; });
        p->retire = false;
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
    if (pool == nullptr || pool->pid != getpid()) pool = new Pool;
    return *pool;
}

// A thread of the pool: runs procedures until none comes for kPoolIdleMs.
void Serve(Pool* p, Pool::Worker* self, std::function<void()> procedure) {
    std::unique_lock lock(p->mutex, std::defer_lock);
    for (;;) {
        procedure();
        // Whatever the procedure held goes before the thread waits.
        procedure = nullptr;
        lock.lock();
        ++p->idle;
        const bool got = p->wake.wait_for(lock, std::chrono::milliseconds(kPoolIdleMs), [p] {
            return !p->waiting.empty() || p->retire;
        }) && !p->waiting.empty();
        --p->idle;
        if (!got) {
            if (p->retire) {
                // The fork waits to join it, so that it is gone before the copy.
                self->ended = true;
                p->parted.notify_all();
            } else {
                // Nobody waits for it: it lets itself go, so that no ended
                // thread stays unjoined when the process exits.
                self->thread.detach();
                p->workers.remove_if([self](const Pool::Worker& w) { return &w == self; });
            }
            return;
        }
        procedure = std::move(p->waiting.front());
        p->waiting.pop_front();
        lock.unlock();
    }
}

}  // namespace

bool RunOnPoolThread(std::function<void()> procedure) {
    Pool& p = Current();
    bool started = false;
    {
        std::lock_guard lock(p.mutex);
        // Every idle thread takes one procedure: hand this one over only when
        // there are more idle threads than procedures already waiting for them.
        if (p.idle > static_cast<int>(p.waiting.size())) {
            p.waiting.push_back(std::move(procedure));
            p.wake.notify_one();
            started = true;
        } else {
            try {
                Pool::Worker& worker = p.workers.emplace_back();
                try {
                    worker.thread = std::thread(Serve, &p, &worker, std::move(procedure));
                    started = true;
                } catch (const std::system_error&) {
                    p.workers.pop_back();
                }
            } catch (const std::bad_alloc&) {
            }
        }
    }
    return started;
}

int PoolThreadCount() {
    Pool& p = Current();
    std::lock_guard lock(p.mutex);
    int count = 0;
    for (const Pool::Worker& worker : p.workers) count += worker.ended ? 0 : 1;
    return count;
}

}  // namespace brindlex
