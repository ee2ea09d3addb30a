// Where the program keeps its state: the settings file, the list file and,
// with them, the instance lock (one running program per state folder).
//
// Beside the program when its folder is the user's own and nobody else may write
// there (a portable folder, the build folder, what scripts/run starts): the state
// then travels with the program. Anywhere else (/usr/bin, also for root; a folder
// others may write, where they could plant a queue) the per-user folder
// $XDG_CONFIG_HOME/vantorel/ holds it instead, made on the first start. Same files,
// same formats in either place.
//
// Threads: user-interface thread.
#pragma once

#include <sys/types.h>

#include <string>

// $XDG_CONFIG_HOME/vantorel/, or ~/.config/vantorel/ when that variable is unset,
// empty or not an absolute path (as XDG asks); ~ is $HOME, else the home folder of
// the user's account. Ends in '/'; "" when no home is known. Nothing is made.
std::string UserStateFolder();

// `programFolder` when it is owned by `user` (the effective user id), neither its
// group nor others may write to it, it is not /usr or inside it, and this process
// may create files there; otherwise `userFolder`, made with its missing parents
// (mode 0700) when needed. When the user folder is "" or cannot be made, the
// program folder after all if only its owning user may write there (what is there
// is read, and saving fails as in any read-only place), else "".
std::string ChooseStateFolder(const std::string& programFolder, const std::string& userFolder,
                              uid_t user);

// The state folder of this process, ending in '/': chosen on the first call from
// the running program's folder and UserStateFolder(), then the same for the whole
// run. "" when the program's own path cannot be found or no folder above fits.
const std::string& StateFolder();
