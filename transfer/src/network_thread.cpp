#include "network_thread.h"

#include <openssl/crypto.h>
#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "internet_object.h"
#include "process_id.h"
#include "transfer_hop.h"

namespace brindlex::net {

namespace {

// Longest wait in curl_multi_poll: every post wakes it at once, and libcurl's own
// timers shorten it; this only bounds how long a lost wake-up could cost.
constexpr int kPollCapMs = 1000;
// How long the process's end waits for the thread to finish what was posted
// (the drops of the last runs); a transfer left running is not waited for.
constexpr std::chrono::seconds kExitPatience{2};

class Network {
public:
    explicit Network(Network* before);
    // Never destroyed: its connection cache serves the whole process, and a
    // thread of it may still be on its way out when the process ends.
    ~Network() = delete;

    enum class Kind { Add, Drop, Resume };
    void Post(Kind kind, std::shared_ptr<Hop> hop);
    // Any thread: waits until no thread drives the multi handle, at most
    // `patience`; true when none does.
    bool WaitIdle(std::chrono::milliseconds patience);

    const pid_t pid;
    CURLSH* const share;
    // The parent's network, left behind in a forked child: kept reachable, as
    // the thread that used it is gone and nothing may free what it held.
    Network* const before;

private:
    struct Command {
        Kind kind;
        std::shared_ptr<Hop> hop;
    };

    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self);
    static void Unlock(CURL*, curl_lock_data data, void* self);

    // Network thread.
    static void* Start(void* self);
    void Run();
    void Apply(const Command& command);
    void Remove(CURL* easy);

    CURLM* const multi_;
    std::mutex shareLocks_[CURL_LOCK_DATA_LAST];
    std::mutex queueMutex_;
    std::vector<Command> queue_;  // guarded by queueMutex_
    // Whether a thread drives the multi handle; guarded by queueMutex_. The thread
    // ends when it has nothing left to drive and the next post starts another, so
    // an idle process has no thread of the library's (a fork then copies a
    // process with one thread).
    bool running_ = false;
    std::condition_variable idle_;  // notified when running_ turns false
    // Network thread only (one at a time, handed on under queueMutex_): every hop
    // whose handle is in the multi handle.
    std::unordered_map<CURL*, std::shared_ptr<Hop>> live_;
};

Network::Network(Network* left)
    : pid(CurrentProcessId()), share(curl_share_init()), before(left), multi_(curl_multi_init()) {
    if (share != nullptr) {
        curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &Network::Lock);
        curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &Network::Unlock);
        curl_share_setopt(share, CURLSHOPT_USERDATA, this);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    }
}

void Network::Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<Network*>(self)->shareLocks_[data].lock();
}

void Network::Unlock(CURL*, curl_lock_data data, void* self) {
    static_cast<Network*>(self)->shareLocks_[data].unlock();
}

void Network::Post(Kind kind, std::shared_ptr<Hop> hop) {
    // A transfer that is done is in the multi handle no more.
    if (kind != Kind::Add && hop->done()) return;
    bool start = false;
    // Only the post that finds the queue empty wakes the thread: the ones after
    // it are taken in the same batch.
    bool wake = false;
    if (multi_ != nullptr) {
        std::lock_guard lock(queueMutex_);
        wake = queue_.empty();
        queue_.push_back(Command{kind, hop});
        start = !running_;
        running_ = true;
    }
    if (!start) {
        if (wake) curl_multi_wakeup(multi_);
        // No multi handle: nothing is ever added.
        if (multi_ == nullptr && kind == Kind::Add) hop->OnDone(CURLE_OUT_OF_MEMORY);
        return;
    }
    pthread_t thread;
    if (pthread_create(&thread, nullptr, &Network::Start, this) == 0) {
        pthread_detach(thread);
        return;
    }
    // No thread: what was posted fails instead of waiting for ever.
    std::vector<Command> failed;
    {
        std::lock_guard lock(queueMutex_);
        failed.swap(queue_);
        running_ = false;
    }
    for (const Command& command : failed) {
        if (command.kind == Kind::Add) command.hop->OnDone(CURLE_OUT_OF_MEMORY);
    }
}

bool Network::WaitIdle(std::chrono::milliseconds patience) {
    std::unique_lock lock(queueMutex_);
    return idle_.wait_for(lock, patience, [this] { return !running_; });
}

void* Network::Start(void* self) {
    static_cast<Network*>(self)->Run();
    return nullptr;
}

void Network::Remove(CURL* easy) {
    const auto it = live_.find(easy);
    if (it == live_.end()) return;
    // Before CURLMSG_DONE this closes the connection: an answer not read to its
    // end leaves nothing behind for another request to trip over.
    curl_multi_remove_handle(multi_, easy);
    live_.erase(it);  // may free the hop, and with it the easy handle
}

void Network::Apply(const Command& command) {
    Hop& hop = *command.hop;
    switch (command.kind) {
        case Kind::Add:
            if (hop.abandoned() || live_.count(hop.easy()) != 0) return;
            if (curl_multi_add_handle(multi_, hop.easy()) != CURLM_OK) {
                hop.OnDone(CURLE_FAILED_INIT);
                return;
            }
            live_.emplace(hop.easy(), command.hop);
            return;
        case Kind::Drop:
            Remove(hop.easy());
            return;
        case Kind::Resume:
            if (live_.count(hop.easy()) == 0 || hop.done()) return;
            // May hand the held-back chunk to the write callback right here.
            if (curl_easy_pause(hop.easy(), CURLPAUSE_CONT) != CURLE_OK) {
                hop.OnDone(CURLE_RECV_ERROR);
                Remove(hop.easy());
            }
            return;
    }
}

void Network::Run() {
    std::vector<Command> batch;
    std::vector<CURL*> doneInTurn;
    for (;;) {
        {
            std::lock_guard lock(queueMutex_);
            if (queue_.empty() && live_.empty()) {
                // The TLS library's state of this thread goes now, not at the
                // thread's end: once idle is reported the process may be ending,
                // and its clean-up must not meet this thread still freeing.
                OPENSSL_thread_stop();
                running_ = false;
                idle_.notify_all();
                return;
            }
            batch.swap(queue_);
        }
        for (const Command& command : batch) Apply(command);
        batch.clear();
        // Wake-ups wait for the end of the turn: the hops done in it are removed
        // only after that, so every hop held is still alive.
        Hop::OpenWakeBatch();
        int running = 0;
        curl_multi_perform(multi_, &running);
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
            if (message->msg != CURLMSG_DONE) continue;
            CURL* easy = message->easy_handle;
            const CURLcode code = message->data.result;
            const auto it = live_.find(easy);
            if (it == live_.end()) continue;
            it->second->OnDone(code);
            doneInTurn.push_back(easy);
        }
        Hop::CloseWakeBatch();
        // Done: the connection is back in the cache for the next request.
        for (CURL* easy : doneInTurn) Remove(easy);
        doneInTurn.clear();
        if (live_.empty()) continue;  // ends the thread unless more was posted
        curl_multi_poll(multi_, nullptr, 0, kPollCapMs, nullptr);
    }
}

std::mutex networkMutex;
Network* network = nullptr;  // guarded by networkMutex

void WaitForNetworkAtExit() {
    Network* current = nullptr;
    {
        std::lock_guard lock(networkMutex);
        current = network;
    }
    if (current != nullptr && current->pid == CurrentProcessId()) current->WaitIdle(kExitPatience);
}

// This process's network, started on first use. A forked child inherits the
// pointer but not the thread: it starts its own.
Network& Current() {
    static std::once_flag atFork;
    std::call_once(atFork, [] {
        // Held across fork, so the child never inherits it locked.
        pthread_atfork([] { networkMutex.lock(); }, [] { networkMutex.unlock(); },
                       [] { networkMutex.unlock(); });
    });
    EnsureCurlInitialised();
    // Registered after libcurl's TLS library set up its own clean-up at exit, so
    // it runs before it: the thread must not be closing a TLS connection (the
    // drop of a run's last hop) while that clean-up frees what it uses.
    static std::once_flag atExit;
    std::call_once(atExit, [] { std::atexit(WaitForNetworkAtExit); });
    std::lock_guard lock(networkMutex);
    if (network == nullptr || network->pid != CurrentProcessId()) network = new Network(network);
    return *network;
}

}  // namespace

CURLSH* NetworkShare() { return Current().share; }

void NetworkAdd(std::shared_ptr<Hop> hop) { Current().Post(Network::Kind::Add, std::move(hop)); }

void NetworkDrop(std::shared_ptr<Hop> hop) { Current().Post(Network::Kind::Drop, std::move(hop)); }

void NetworkResume(std::shared_ptr<Hop> hop) {
    Current().Post(Network::Kind::Resume, std::move(hop));
}

bool WaitForNetworkIdle(std::chrono::milliseconds patience) { return Current().WaitIdle(patience); }

}  // namespace brindlex::net
