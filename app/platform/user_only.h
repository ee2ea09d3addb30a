// What belongs to this user alone: a folder nobody else may enter or change, and
// the process at the other end of a local socket. The hand-off socket lives in
// such a folder and each of its ends checks the other before a byte is sent or
// taken: handed-over URLs can carry tokens.
//
// Threads: any; nothing here keeps state.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

// The longest path a local socket can be bound to (sockaddr_un's 108 bytes less
// the NUL).
inline constexpr std::size_t kLongestSocketPath = 107;

// True when `path` itself, not a symbolic link, is a folder owned by `user` that
// its owner may list, enter and write and nobody else may reach at all (lstat).
bool IsPrivateFolder(const std::string& path, uid_t user);

// True when the process at the other end of the connected local socket `fd` runs
// as `user` (SO_PEERCRED); false when it does not or the system cannot tell.
bool PeerIsUser(int fd, uid_t user);

// The folder for a socket of `user` named with `nameLength` bytes: `runtimeDir`
// ($XDG_RUNTIME_DIR) when it is an absolute path to a private folder and the
// socket's path fits; otherwise `tempRoot` + "/vantorel-" + the user id, made with
// mode 0700 when missing, if it is private and the path fits there. "" when
// neither is: no socket at all rather than one in a folder others may write.
// No trailing '/'.
std::string PrivateSocketFolder(const char* runtimeDir, const std::string& tempRoot, uid_t user,
                                std::size_t nameLength);
