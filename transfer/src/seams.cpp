#include "seams.h"

#include <mutex>

namespace brindlex::seams {

std::atomic<unsigned long> watchPeriodMs{kWatchPeriodMs};
std::atomic<bool> extendedAttributesFail{false};

namespace {
std::mutex caMutex;
std::string caFile;
}  // namespace

void SetTrustedCaFile(const std::string& path) {
    std::lock_guard lock(caMutex);
    caFile = path;
}

std::string TrustedCaFile() {
    std::lock_guard lock(caMutex);
    return caFile;
}

}  // namespace brindlex::seams
