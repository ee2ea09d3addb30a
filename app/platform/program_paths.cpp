#include "program_paths.h"

#include <unistd.h>

#include <vector>


std::optional<std::string> RunningProgramPath() {
    // readlink says nothing about the length up front and cuts a long target
    // short silently: grow the buffer until the answer fits with room to spare.
    for (std::size_t size = 256; size <= (1u << 20); size *= 2) {
        std::vector<char> buffer(size);
        ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length <= 0) return std::nullopt;
        if (static_cast<std::size_t>(length) < buffer.size()) {
            return std::string(buffer.data(), static_cast<std::size_t>(length));
        }
    }
    return std::nullopt;
}

std::string FolderOf(std::string_view path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return std::string();
    return std::string(path.substr(0, slash + 1));
}
