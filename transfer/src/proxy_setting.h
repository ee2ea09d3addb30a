// The proxy the requests go through: the process-wide choice (VSetProxy), how one
// hop's easy handle is set up for it, and what a failure on the way to it means.
//
// Each request takes a copy of the choice when it is made and sets up every hop
// with it, where the hop's easy handle is configured, so the choice never changes
// in the middle of an attempt and no lock is held while a transfer runs.
#pragma once

#include <curl/curl.h>

#include <string>

namespace brindlex::net {

struct ProxySetting {
    int mode = 0;  // a VPROXY_MODE
    std::string host;
    unsigned port = 0;
    std::string user;
    std::string password;
};

// Any thread: the choice as it stands now.
ProxySetting CurrentProxySetting();

// Any thread. Whether a hop of this scheme may go through a proxy: always for a
// manual one, for the environment when it names one for the scheme. libcurl alone
// decides where the hop goes (NO_PROXY included); this says only what a request
// must look like and what a failed connect was.
bool ProxyMayApply(const ProxySetting& proxy, bool secureHop);

// Worker thread, on each hop's easy handle. False when the setting cannot be used
// (a manual proxy without host or port) or libcurl refuses an option: the hop must
// then not go out, not even directly.
bool ApplyProxy(CURL* easy, const ProxySetting& proxy);

// Worker thread, after a hop failed with `code` before its answer arrived, with
// the proxy's answer to CONNECT (CURLINFO_HTTP_CONNECTCODE, 0 for none). The
// result code a failure caused by the proxy stands for: RESULT_NO_CONNECT when it
// could not be found or reached, the proxy's own status when it refused the
// tunnel; 0 when the failure was not the proxy's.
unsigned long ProxyFailure(long connectCode, CURLcode code, const ProxySetting& proxy,
                           bool secureHop);

}  // namespace brindlex::net
