// Things that ended users handed back, kept for the next users: a bounded stack
// shared by every thread, the most recently given back taken first (its memory
// is the likeliest to be warm).
//
// One list per kind, described by a policy:
//   struct Policy {
//       using Item = ...;
//       static constexpr std::size_t kCapacity = ...;
//       // In a forked child, with the list's lock held: what the child inherited
//       // and must not hand out (or may), to be emptied as the kind requires.
//       static void InChild(std::vector<Item>& items);
//   };
// The list's lock is held across fork, so a child never inherits it locked. The
// list itself is never freed: users may still hand things back while the
// process exits.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <mutex>
#include <vector>

namespace brindlex {

template <typename Policy>
class KeptList {
public:
    using Item = typename Policy::Item;

    // Any thread. True, with *item, when one was kept.
    static bool Take(Item* item) {
        std::lock_guard lock(State().mutex);
        std::vector<Item>& items = State().items;
        if (items.empty()) return false;
        *item = items.back();
        items.pop_back();
        return true;
    }

    // Any thread. False when the list is full: the caller disposes of the item.
    static bool GiveBack(Item item) {
        std::lock_guard lock(State().mutex);
        std::vector<Item>& items = State().items;
        if (items.size() >= Policy::kCapacity) return false;
        items.push_back(item);
        return true;
    }

    // Any thread. Whether a GiveBack now would keep the item.
    static bool HasRoom() { return Size() < Policy::kCapacity; }

    static std::size_t Size() {
        std::lock_guard lock(State().mutex);
        return State().items.size();
    }

private:
    struct Shared {
        Shared() {
            items.reserve(Policy::kCapacity);
            pthread_atfork([] { State().mutex.lock(); }, [] { State().mutex.unlock(); },
                           [] {
                               Policy::InChild(State().items);
                               State().mutex.unlock();
                           });
        }
        std::mutex mutex;
        std::vector<Item> items;  // guarded by mutex
    };

    static Shared& State() {
        static Shared* const shared = new Shared;
        return *shared;
    }
};

}  // namespace brindlex
