// SSL_CERT_FILE and SSL_CERT_DIR made absolute. The program makes the save folder
// its current folder and the downloads read these variables long after, so a
// relative name in them would be taken from the wrong folder: it is taken from
// the folder the program was started in, as the user who typed it meant.
//
// Threads: MakeCertPathsAbsolute only in main, before any thread exists (setenv
// races every thread that reads the environment); the others anywhere.
#pragma once

#include <string>
#include <string_view>

// `path` taken from `startFolder` when it is relative; an absolute or empty one
// as it is.
std::string AbsoluteFrom(std::string_view startFolder, std::string_view path);

// Every entry of the ':'-separated `list` taken from `startFolder` (AbsoluteFrom);
// empty entries stay empty.
std::string AbsoluteListFrom(std::string_view startFolder, std::string_view list);

// Rewrites the two variables, when set, with the current folder as the start
// folder. Nothing changes when the current folder cannot be told.
void MakeCertPathsAbsolute();
