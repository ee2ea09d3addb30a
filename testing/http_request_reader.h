// Reading the head of one HTTP request (request line and header lines) on the
// test server. Test infrastructure only: the product never parses HTTP itself.
#pragma once

#include <string_view>

#include "test_server.h"

namespace vtest {

class ServerConnection;

// Parses a request head, without its final empty line, into `out`. False when
// the request line does not have three parts or a header line has no ':'.
bool ParseRequestHead(std::string_view head, RecordedRequest* out);

// Reads a request head from `connection` (on its thread). False when the peer
// closes or the connection ends first, or the head is not a request.
bool ReadRequest(ServerConnection& connection, RecordedRequest* out);

// The path a request target names: the target up to its first '?' or '#'.
std::string_view TargetPath(std::string_view target);

}  // namespace vtest
