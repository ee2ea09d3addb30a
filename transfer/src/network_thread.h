// The library's network thread: one multi handle that drives every transfer of
// the process, so that transfers share its connection cache (a connection goes
// back to the cache when its transfer is done and is taken again by the next
// request to the same server) and its DNS cache, plus a share object for TLS
// sessions, which libcurl otherwise keeps per easy handle.
//
// Only the network thread calls libcurl on a handle while it is in the multi
// handle. Other threads set an easy handle up before handing it over and post
// everything else: add, drop (remove it, which closes its connection unless its
// transfer was done), resume after a pause. The network thread holds each hop
// until it has removed it. It never blocks on anything but curl_multi_poll,
// which every post wakes.
//
// The thread starts with a post and ends when no transfer is left; a child
// process after a fork gets a network of its own (it has no copy of the thread).
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <memory>

namespace brindlex::net {

class Hop;

// Any thread. The share object of this process's network thread: TLS sessions
// and DNS answers, with locks of its own.
CURLSH* NetworkShare();

// Any thread. The hop must be fully set up (callbacks with the hop as their data,
// NetworkShare() as its share). A hop abandoned before the network thread gets to
// it is never added.
void NetworkAdd(std::shared_ptr<Hop> hop);
// Any thread. Removes the hop's handle if it is still in; nothing otherwise.
void NetworkDrop(std::shared_ptr<Hop> hop);
// Any thread. Resumes a paused transfer.
void NetworkResume(std::shared_ptr<Hop> hop);

// Any thread: waits until the network thread has applied everything posted and
// has no transfer left, at most `patience`; true when it has. A run's end does
// not wait for the removal of its transfer, so a test that must know the
// removals are done (not merely posted) asks this.
bool WaitForNetworkIdle(std::chrono::milliseconds patience);

}  // namespace brindlex::net
