#include "state_folder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <vector>

#include "program_paths.h"

namespace {

bool IsAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (IsAbsolute(home)) return home;
    // No usable HOME (a service, a stripped environment): the account still has one.
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && IsAbsolute(found->pw_dir)) {
        return found->pw_dir;
    }
    return std::string();
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path == "/" ? std::string() : path;
}

bool CanCreateFilesIn(const std::string& folder) {
    // The effective IDs decide what open() may do; a read-only mount says EROFS
    // here even to root.
    return ::faccessat(AT_FDCWD, folder.empty() ? "." : folder.c_str(), W_OK | X_OK, AT_EACCESS) ==
           0;
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// mkdir -p with mode 0700 for every folder it makes.
bool MakeFolders(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) break;
    }
    return IsFolder(folder);
}

}  // namespace

std::string UserStateFolder() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (IsAbsolute(configHome)) {
        base = WithoutTrailingSlashes(configHome);
    } else {
        const std::string home = HomeFolder();
        if (home.empty()) return std::string();
        base = WithoutTrailingSlashes(home) + "/.config";
    }
    return base + "/vantorel/";
}

std::string ChooseStateFolder(const std::string& programFolder, const std::string& userFolder) {
    if (CanCreateFilesIn(programFolder) || userFolder.empty()) return programFolder;
    return MakeFolders(WithoutTrailingSlashes(userFolder)) ? userFolder : programFolder;
}

const std::string& StateFolder() {
    static const std::string folder = [] {
        std::optional<std::string> program = RunningProgramPath();
        if (!program) return std::string();
        return ChooseStateFolder(FolderOf(*program), UserStateFolder());
    }();
    return folder;
}
