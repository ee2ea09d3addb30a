#include "proxy_setting.h"

#include <cstdlib>
#include <mutex>
#include <utility>

#include "brindlex/vbrindlex.h"

namespace brindlex::net {

namespace {

std::mutex proxyMutex;
ProxySetting proxySetting;  // guarded by proxyMutex

bool NonEmptyVariable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Whether the environment names a proxy for a hop of this scheme: the variables
// libcurl reads. Only used to say what a failed connect was; where a request goes
// is libcurl's decision alone (no_proxy included).
bool EnvironmentNamesProxy(bool secureHop) {
    if (NonEmptyVariable("all_proxy") || NonEmptyVariable("ALL_PROXY")) return true;
    if (secureHop) return NonEmptyVariable("https_proxy") || NonEmptyVariable("HTTPS_PROXY");
    return NonEmptyVariable("http_proxy");
}

}  // namespace

bool ProxyMayApply(const ProxySetting& proxy, bool secureHop) {
    if (proxy.mode == PROXY_NONE) return false;
    return proxy.mode == PROXY_MANUAL || EnvironmentNamesProxy(secureHop);
}

ProxySetting CurrentProxySetting() {
    std::lock_guard lock(proxyMutex);
    return proxySetting;
}

bool ApplyProxy(CURL* easy, const ProxySetting& proxy) {
    if (proxy.mode == PROXY_NONE) {
        // An empty proxy also keeps libcurl from taking one from the environment.
        return curl_easy_setopt(easy, CURLOPT_PROXY, "") == CURLE_OK;
    }
    // The proxy's answer to CONNECT is no answer of the server's: the header
    // callback sees the server's alone.
    if (curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L) != CURLE_OK) return false;
    // From the environment: CURLOPT_PROXY left unset, so libcurl reads it as the
    // curl command line does.
    if (proxy.mode != PROXY_MANUAL) return true;
    if (proxy.host.empty() || proxy.port == 0 || proxy.port > 65535) return false;
    std::string host = proxy.host;
    // An IPv6 address stands in brackets where a port may follow it.
    if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
    bool ok =
        curl_easy_setopt(easy, CURLOPT_PROXY, host.c_str()) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_PROXYPORT, static_cast<long>(proxy.port)) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP)) == CURLE_OK &&
        // HTTPS through a tunnel the proxy cannot read; plain HTTP as a
        // request to the proxy, as every HTTP proxy expects it.
        curl_easy_setopt(easy, CURLOPT_HTTPPROXYTUNNEL, 0L) == CURLE_OK;
    // The credentials go in Proxy-Authorization to the proxy alone, never in the
    // request's own Authorization.
    if (!proxy.user.empty() || !proxy.password.empty()) {
        ok = ok && curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, proxy.user.c_str()) == CURLE_OK &&
             curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, proxy.password.c_str()) == CURLE_OK;
    }
    return ok;
}

unsigned long ProxyFailure(long connectCode, CURLcode code, const ProxySetting& proxy,
                           bool secureHop) {
    if (proxy.mode == PROXY_NONE) return 0;
    if (proxy.mode == PROXY_MANUAL && (proxy.host.empty() || proxy.port == 0 || proxy.port > 65535))
        return RESULT_NO_CONNECT;
    // A tunnel the proxy would not open: its answer to CONNECT is the answer.
    if (connectCode >= 300) return static_cast<unsigned long>(connectCode);
    if (code == CURLE_COULDNT_RESOLVE_PROXY) return RESULT_NO_CONNECT;
    if (code == CURLE_COULDNT_CONNECT && ProxyMayApply(proxy, secureHop)) return RESULT_NO_CONNECT;
    return 0;
}

}  // namespace brindlex::net

void VSetProxy(int mode, const char* host, unsigned port, const char* user, const char* password) {
    brindlex::net::ProxySetting setting;
    setting.mode = (mode == PROXY_NONE || mode == PROXY_MANUAL) ? mode : PROXY_FROM_ENVIRONMENT;
    setting.host = host != nullptr ? host : "";
    setting.port = port;
    setting.user = user != nullptr ? user : "";
    setting.password = password != nullptr ? password : "";
    std::lock_guard lock(brindlex::net::proxyMutex);
    brindlex::net::proxySetting = std::move(setting);
}
