// The network settings: the proxy and the speed limit, kept in "vantorel.ini"
// (keys Proxy, ProxyHost, ProxyPort, ProxyUser, ProxyPassword, MaxSpeed; see
// app_settings.h) and handed to the transfer library, which applies them to every
// download of the program.
//
// Threads: user-interface thread only, like the other settings.
#pragma once

#include <string>

// The three values of "Proxy".
inline constexpr char kProxyFromEnvironment[] = "Environment";
inline constexpr char kProxyNone[] = "None";
inline constexpr char kProxyManual[] = "Manual";

// "Environment" (the default), "None" or "Manual".
extern std::string proxyMode;
// The manual proxy: host, port (1 to 65535; 0 for none), and an optional user
// name and password, which only the proxy ever gets.
extern std::string proxyHost;
extern int proxyPort;
extern std::string proxyUser;
extern std::string proxyPassword;
// The most all downloads together may take, in KiB/s; 0 for no limit.
extern int maxSpeed;

// Brings values as read from the file into range: an unknown "Proxy" is
// "Environment", a port outside 1 to 65535 is 0, a negative "MaxSpeed" is 0.
void NormaliseNetworkSettings();

// Hands the proxy and the speed limit to the library: new attempts take the
// proxy, and the limit applies at once, to downloads in progress too.
void ApplyNetworkSettings();
