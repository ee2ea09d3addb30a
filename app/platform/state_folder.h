// Where the program keeps its state: the settings file, the list file and,
// with them, the instance lock (one running program per state folder).
//
// Beside the program when its folder can be written (a portable folder, the build
// folder, what scripts/run starts): the state then travels with the program.
// Installed where the user may not write (/usr/bin), the per-user folder
// $XDG_CONFIG_HOME/vantorel/ holds it instead, made on the first start. Same files,
// same formats in either place.
//
// Threads: user-interface thread.
#pragma once

#include <string>

// $XDG_CONFIG_HOME/vantorel/, or ~/.config/vantorel/ when that variable is unset,
// empty or not an absolute path (as XDG asks); ~ is $HOME, else the home folder of
// the user's account. Ends in '/'; "" when no home is known. Nothing is made.
std::string UserStateFolder();

// `programFolder` when this process may create files there; otherwise
// `userFolder`, made with its missing parents (mode 0700) when needed. When the
// user folder is "" or cannot be made, `programFolder` after all: what is there is
// read, and saving fails as it does in any read-only place, rather than the
// program refusing to start.
std::string ChooseStateFolder(const std::string& programFolder, const std::string& userFolder);

// The state folder of this process, ending in '/': chosen on the first call from
// the running program's folder and UserStateFolder(), then the same for the whole
// run. "" when the program's own path cannot be found.
const std::string& StateFolder();
