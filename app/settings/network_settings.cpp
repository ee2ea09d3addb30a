#include "network_settings.h"

#include <cstdint>

#include "brindlex/vbrindlex.h"

std::string proxyMode = kProxyFromEnvironment;
std::string proxyHost;
int proxyPort = 0;
std::string proxyUser;
std::string proxyPassword;
int maxSpeed = 0;

void NormaliseNetworkSettings() {
    if (proxyMode != kProxyNone && proxyMode != kProxyManual) proxyMode = kProxyFromEnvironment;
    if (proxyPort < 1 || proxyPort > 65535) proxyPort = 0;
    if (maxSpeed < 0) maxSpeed = 0;
}

void ApplyNetworkSettings() {
    const int mode = proxyMode == kProxyNone     ? PROXY_NONE
                     : proxyMode == kProxyManual ? PROXY_MANUAL
                                                 : PROXY_FROM_ENVIRONMENT;
    VSetProxy(mode, proxyHost.c_str(), static_cast<unsigned>(proxyPort), proxyUser.c_str(),
              proxyPassword.c_str());
    VSetSpeedLimit(static_cast<std::uint64_t>(maxSpeed < 0 ? 0 : maxSpeed) * 1024);
}
