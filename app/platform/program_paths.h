// The program folder, found from the running executable, and the paths of the
// two files kept there: the list file and the settings file.
//
// Threads: user-interface thread, at start-up.
#pragma once

#include <optional>
#include <string>
#include <string_view>

inline constexpr char kListFileName[] = "filelist.dat";

// The full path of the running executable (/proc/self/exe), however long;
// nullopt when the system cannot tell.
std::optional<std::string> RunningProgramPath();

// The folder part of a path: everything up to and including its last '/';
// "" when it has none.
std::string FolderOf(std::string_view path);

// Sets listPath and iniPath to the program folder plus "filelist.dat" and
// "vantorel.ini". False, changing nothing, when the program's own path cannot be
// found; the caller then tells the user ("Argh") and ends.
bool FindProgramPaths();
