#include "user_only.h"

#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>

bool IsPrivateFolder(const std::string& path, uid_t user) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == user &&
           (info.st_mode & 0777) == 0700;
}

bool PeerIsUser(int fd, uid_t user) {
    ucred peer{};
    socklen_t length = sizeof peer;
    return fd >= 0 && ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
           length == sizeof peer && peer.uid == user;
}

std::string PrivateSocketFolder(const char* runtimeDir, const std::string& tempRoot, uid_t user,
                                std::size_t nameLength) {
    const auto fits = [nameLength](const std::string& folder) {
        return folder.size() + 1 + nameLength <= kLongestSocketPath;
    };
    if (runtimeDir != nullptr && runtimeDir[0] == '/') {
        std::string folder = runtimeDir;
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        if (fits(folder) && IsPrivateFolder(folder, user)) return folder;
    }
    // Someone else may have made this name first (the temporary folder is shared):
    // then it is not ours and we do without.
    const std::string folder = tempRoot + "/vantorel-" + std::to_string(user);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return std::string();
    return fits(folder) && IsPrivateFolder(folder, user) ? folder : std::string();
}
