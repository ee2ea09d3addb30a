// The paths of the program's two files: the list file and the settings file, both
// in the state folder (state_folder.h).
//
// Threads: user-interface thread, at start-up.
#pragma once

inline constexpr char kListFileName[] = "filelist.dat";

// Sets listPath and iniPath to the state folder plus "filelist.dat" and
// "vantorel.ini". False, changing nothing, when the program's own path cannot be
// found; the caller then tells the user ("Argh") and ends.
bool FindProgramPaths();
