// Internal settings that only tests change. Never reachable through the public
// header, the environment or any file: a test links the library and sets them.
#pragma once

#include <atomic>
#include <string>

namespace brindlex::seams {

// The watchdog's period; a stalled run ends between one and two periods after
// its last activity.
constexpr unsigned long kWatchPeriodMs = 30000;
extern std::atomic<unsigned long> watchPeriodMs;

// A PEM file of certificate authorities that HTTPS requests trust in place of the
// system store. Empty (the default): the system store. Set only while no run is
// in progress.
void SetTrustedCaFile(const std::string& path);
std::string TrustedCaFile();

// Makes every extended-attribute call of the resume validator fail, as on a file
// system without user attributes.
extern std::atomic<bool> extendedAttributesFail;

}  // namespace brindlex::seams
