// The paths of the program's files: the list file, the pause file and the settings
// file, all in the state folder (state_folder.h).
//
// Threads: user-interface thread, at start-up.
#pragma once

inline constexpr char kListFileName[] = "filelist.dat";

// Sets listPath, pausePath and iniPath to the state folder plus "filelist.dat",
// "paused.dat" and "vantorel.ini". False, changing nothing, when there is no state folder (the
// program's own path cannot be found, or neither its folder nor the user's may
// hold the state); the caller then tells the user ("Argh") and ends.
bool FindProgramPaths();
