// Sending the body of one test-server answer: framing, rate limit, and the
// scripted stall or drop part-way through.
#pragma once

#include <cstdint>

#include "test_server.h"

namespace vtest {

class ServerConnection;

enum class BodyEnd {
    Complete,  // every byte and the framing's end were sent
    Cut,       // dropped or stalled as scripted, or the connection ended first
};

// Sends bytes [start, end) of `route`'s resource on `connection` (on its thread),
// framed as the route says. A scripted stall returns only once the connection is
// interrupted or the peer closes it.
BodyEnd SendBody(ServerConnection& connection, const Route& route, std::uint64_t start,
                 std::uint64_t end);

}  // namespace vtest
