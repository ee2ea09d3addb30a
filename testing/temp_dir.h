// A temporary folder for one test, removed with everything in it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <stdlib.h>

namespace vtest {

// A fresh folder under `base` (the system's temporary folder when empty).
class TempDir {
public:
    explicit TempDir(const std::string& base = "") {
        const std::filesystem::path parent =
            base.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(base);
        std::string pattern = (parent / "vantorel-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    std::string operator/(const std::string& name) const { return File(name); }

private:
    std::string path_;
};

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(),
                                                                  static_cast<std::streamsize>(bytes.size()));
}

inline bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

}  // namespace vtest
