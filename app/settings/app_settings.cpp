#include "app_settings.h"

#include <cstdio>
#include <span>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "job_queue.h"
#include "network_settings.h"
#include "profile_file.h"
#include "profile_text.h"
#include "profile_values.h"

// The file stores the widths as the bytes of five 32-bit integers: keep that
// layout so a file written by one build reads in another.
static_assert(sizeof(int) == 4, "ColWidths is stored as five 32-bit integers");

std::string iniPath;
std::string defPath;
int colWidths[kColumnCount] = {50, 50, 50, 50, 50};
int windowLeft = 0;
int windowTop = 0;
int windowWidth = 0;
int windowHeight = 0;
std::string viewFilter = "All";

namespace {

// Where a setting lives in memory, which also says how it is stored: a string,
// an integer, or integers stored as one struct.
using SettingTarget = std::variant<std::string*, int*, std::span<int>>;

struct Setting {
    const char* key;
    SettingTarget target;
    const char* defaultText;  // string settings
    int defaultNumber;        // integer settings, and every integer of a struct
};

// Every key with its default, in the order they are written at shutdown.
const Setting kSettings[] = {
    {"ColWidths", std::span<int>(colWidths), nullptr, 50},
    {"DefPath", &defPath, "", 0},
    {"MaxFiles", &maxFiles, nullptr, 1},
    {"MaxTries", &maxTries, nullptr, 5},
    {"Connections", &connectionsPerDownload, nullptr, kDefaultConnections},
    {"MaxSpeed", &maxSpeed, nullptr, 0},
    {"Proxy", &proxyMode, kProxyFromEnvironment, 0},
    {"ProxyHost", &proxyHost, "", 0},
    {"ProxyPort", &proxyPort, nullptr, 0},
    {"ProxyUser", &proxyUser, "", 0},
    {"ProxyPassword", &proxyPassword, "", 0},
    {"WindowLeft", &windowLeft, nullptr, 0},
    {"WindowTop", &windowTop, nullptr, 0},
    {"WindowWidth", &windowWidth, nullptr, 0},
    {"WindowHeight", &windowHeight, nullptr, 0},
    {"ViewFilter", &viewFilter, "All", 0},
};

void Load(const Setting& setting) {
    std::visit(
        [&](auto target) {
            using T = decltype(target);
            if constexpr (std::is_same_v<T, std::string*>) {
                *target =
                    ReadProfileString(iniPath, kSettingsSection, setting.key, setting.defaultText);
            } else if constexpr (std::is_same_v<T, int*>) {
                *target =
                    ReadProfileInt(iniPath, kSettingsSection, setting.key, setting.defaultNumber);
            } else {
                if (!ReadProfileStruct(iniPath, kSettingsSection, setting.key, target.data(),
                                       target.size_bytes())) {
                    for (int& value : target) value = setting.defaultNumber;
                }
            }
        },
        setting.target);
}

// The text a setting is stored as.
std::string Format(const Setting& setting) {
    return std::visit(
        [](auto target) -> std::string {
            using T = decltype(target);
            if constexpr (std::is_same_v<T, std::string*>) {
                return *target;
            } else if constexpr (std::is_same_v<T, int*>) {
                char number[16];
                std::snprintf(number, sizeof number, "%d", *target);
                return number;
            } else {
                return EncodeProfileStruct(target.data(), target.size_bytes());
            }
        },
        setting.target);
}

}  // namespace

void LoadSettings() {
    for (const Setting& setting : kSettings) Load(setting);
    NormaliseNetworkSettings();
    // A hand-edited file, or one an older version wrote, may hold any number:
    // past the largest value each limit takes it means that largest value, and
    // below 0 it means 0 (no runs, or no restarts), as a negative one always did.
    maxFiles = LimitedSetting(maxFiles, kMostFiles);
    maxTries = LimitedSetting(maxTries, kMostTries);
    // Unlike the two limits, a count of connections out of range is not brought
    // to its nearest end: 0 or 1000 is a slip of the hand, and the default serves
    // such a file better than one connection or sixteen.
    if (connectionsPerDownload < kFewestConnections || connectionsPerDownload > kMostConnections) {
        connectionsPerDownload = kDefaultConnections;
    }
}

bool SaveSettings() {
    std::vector<std::pair<std::string, std::string>> keysAndValues;
    for (const Setting& setting : kSettings) {
        std::string value = Format(setting);
        // A folder name with a line break cannot be stored in a line of its own;
        // leave that key as it is in the file rather than lose the others too.
        if (IsProfileLineSafe(value)) keysAndValues.emplace_back(setting.key, std::move(value));
    }
    return WriteProfileStrings(iniPath, kSettingsSection, keysAndValues);
}
