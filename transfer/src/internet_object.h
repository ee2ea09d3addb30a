// The objects behind VHINTERNET: a tree of sessions, connections and requests,
// reference counted, that any thread may close.
//
// A child holds a reference to its parent, so the whole chain above a handle stays
// valid as long as the handle does. Closing marks one object; an object counts as
// closed when it or any object above it is marked, so a child made by a call that
// raced with the close is closed too. The close also wakes whatever call is pending
// on a request below the closed object; the parent keeps a list of its living
// children for that walk only.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

struct VInternetObject {
    enum class Kind { Session, Connection, Request };

    // Any thread. Takes a reference to `parent` (null for a session). The object
    // joins its parent's child list only through Link, once fully built, so a
    // close never calls into a half-made object.
    VInternetObject(Kind kind, VInternetObject* parent);
    virtual ~VInternetObject();
    // Other threads hold raw pointers to the object: it is never copied or moved.
    VInternetObject(const VInternetObject&) = delete;
    VInternetObject& operator=(const VInternetObject&) = delete;

    // Any thread. True when this object or one above it was closed.
    bool IsClosed() const {
        for (const VInternetObject* o = this; o != nullptr; o = o->parent_) {
            if (o->closed_.load(std::memory_order_acquire)) return true;
        }
        return false;
    }

    // Tells the entry points which object a handle stands for without RTTI: a
    // body read checks it for every 256-byte block.
    const Kind kind;

    void Retain() { refs_.fetch_add(1, std::memory_order_relaxed); }
    // Thread that made the object, right after building it.
    void Link();
    // Any thread; the last release unlinks the object from its parent and frees it.
    void Release();
    // Any thread: marks this object closed and wakes every pending call below it.
    void Close();

protected:
    // Any thread, under the parent's child lock: wake a call pending on this object.
    virtual void WakeSelf() {}
    VInternetObject* parent() const { return parent_; }

private:
    void WakeTree();

    std::atomic<int> refs_{1};
    std::atomic<bool> closed_{false};
    VInternetObject* const parent_;
    // Guards children_. Locked parent before child, never the other way.
    std::mutex childMutex_;
    std::vector<VInternetObject*> children_;
};

namespace brindlex::net {

// Initialises libcurl once per process; every entry point that creates a handle
// calls it first.
void EnsureCurlInitialised();

}  // namespace brindlex::net
