// A folder for test files that must carry user extended attributes.
#pragma once

#include <sys/xattr.h>

#include <filesystem>
#include <string>

#include "temp_dir.h"

namespace vtest {

// The system's temporary folder may be a tmpfs that keeps no user attributes;
// the build folder (the tests' working folder) is on disk. Empty when neither
// takes them.
inline std::string AttributeFolder() {
    for (const auto& base :
         {std::filesystem::temp_directory_path(), std::filesystem::current_path()}) {
        TempDir probe(base.string());
        const std::string file = probe / "probe";
        WriteWholeFile(file, "x");
        if (setxattr(file.c_str(), "user.vantorel.probe", "1", 1, 0) == 0) return base.string();
    }
    return {};
}

}  // namespace vtest
