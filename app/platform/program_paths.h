// The program folder, found from the running executable.
//
// Threads: user-interface thread, at start-up.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The full path of the running executable (/proc/self/exe), however long;
// nullopt when the system cannot tell.
std::optional<std::string> RunningProgramPath();

// The folder part of a path: everything up to and including its last '/';
// "" when it has none.
std::string FolderOf(std::string_view path);
