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

// A folder the state may live in: `user`'s own, that nobody else may change (a
// file planted there would be read as the user's queue), and not part of the
// system's tree, which root could write but must not fill with a user's files.
bool IsOwnUnsharedFolder(const std::string& folder, uid_t user) {
    const std::string path = WithoutTrailingSlashes(folder);
    if (path.empty() || path == "/usr" || path.rfind("/usr/", 0) == 0) return false;
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == user &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
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

std::string ChooseStateFolder(const std::string& programFolder, const std::string& userFolder,
                              uid_t user) {
    const bool ownFolder = IsOwnUnsharedFolder(programFolder, user);
    if (ownFolder && CanCreateFilesIn(programFolder)) return programFolder;
    if (!userFolder.empty() && MakeFolders(WithoutTrailingSlashes(userFolder))) return userFolder;
    return ownFolder ? programFolder : std::string();
}

const std::string& StateFolder() {
    static const std::string folder = [] {
        std::optional<std::string> program = RunningProgramPath();
        if (!program) return std::string();
        return ChooseStateFolder(FolderOf(*program), UserStateFolder(), ::geteuid());
    }();
    return folder;
}
