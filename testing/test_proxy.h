// An HTTP proxy for tests, on 127.0.0.1 only: plain HTTP as an absolute-URI
// request that it passes on to the origin (without its Proxy-* lines), HTTPS as a
// CONNECT tunnel it relays byte for byte, so the TLS session and its certificate
// check are the client's and the origin's alone. It reaches origins on 127.0.0.1
// and localhost only.
#pragma once

#include <memory>
#include <vector>

#include "test_server.h"

namespace vtest {

class TestProxy {
public:
    TestProxy();
    // Ends every relayed connection and joins every thread.
    ~TestProxy();
    TestProxy(const TestProxy&) = delete;
    TestProxy& operator=(const TestProxy&) = delete;

    unsigned short Port() const;
    // "http://127.0.0.1:PORT", the form the *_proxy variables take.
    std::string Url() const;
    // Nonzero: every request (CONNECT included) is answered with this status and
    // goes no further, as a proxy that refuses.
    void Refuse(int status);
    // Every request head the proxy received, in arrival order, as it got them.
    std::vector<RecordedRequest> Requests() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vtest
