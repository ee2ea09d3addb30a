#include "cert_env_paths.h"

#include <unistd.h>

#include <cstdlib>
#include <memory>

std::string AbsoluteFrom(std::string_view startFolder, std::string_view path) {
    if (path.empty() || path.front() == '/') return std::string(path);
    std::string absolute(startFolder);
    if (absolute.empty() || absolute.back() != '/') absolute += '/';
    return absolute.append(path);
}

std::string AbsoluteListFrom(std::string_view startFolder, std::string_view list) {
    std::string result;
    for (;;) {
        const std::size_t colon = list.find(':');
        result += AbsoluteFrom(startFolder, list.substr(0, colon));
        if (colon == std::string_view::npos) return result;
        result += ':';
        list.remove_prefix(colon + 1);
    }
}

void MakeCertPathsAbsolute() {
    const std::unique_ptr<char, decltype(&std::free)> start(::getcwd(nullptr, 0), &std::free);
    if (!start) return;
    if (const char* file = std::getenv("SSL_CERT_FILE")) {
        ::setenv("SSL_CERT_FILE", AbsoluteFrom(start.get(), file).c_str(), 1);
    }
    if (const char* dirs = std::getenv("SSL_CERT_DIR")) {
        ::setenv("SSL_CERT_DIR", AbsoluteListFrom(start.get(), dirs).c_str(), 1);
    }
}
