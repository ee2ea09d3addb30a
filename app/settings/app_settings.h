// The program's settings: what they are, their keys and defaults, and how they
// are read at start-up and written back at shutdown.
//
// The settings file is "vantorel.ini" in the state folder, section "Vantorel".
// maxFiles, maxTries and connectionsPerDownload belong to the scheduler
// (job_queue.h); the rest is here.
//
// Threads: user-interface thread only, like the state itself.
#pragma once

#include <string>

inline constexpr char kSettingsFileName[] = "vantorel.ini";
inline constexpr char kSettingsSection[] = "Vantorel";
inline constexpr int kColumnCount = 5;

// Full path of the settings file; set at start-up.
extern std::string iniPath;
// Where downloads go: made the current folder at start-up. Empty until a
// folder is chosen (the desktop on a first start).
extern std::string defPath;
// Widths in pixels of the columns URL, File, Status, LastError and Size.
extern int colWidths[kColumnCount];

// The main window's place on the screen and size in pixels, as it was last
// closed; a width or height of 0 or less: never stored (the default size, the
// place the window manager picks).
extern int windowLeft;
extern int windowTop;
extern int windowWidth;
extern int windowHeight;
// Which rows the list shows: "All", "Running", "Waiting", "Paused", "Done" or
// "Failed"; any other text means All.
extern std::string viewFilter;

// Reads "DefPath" (default ""), "MaxFiles" (1), "MaxTries" (5), "Connections" (4)
// and "ColWidths" (20 bytes; 50 for every column when they cannot be read) from
// iniPath, then "WindowLeft", "WindowTop", "WindowWidth" and "WindowHeight" (0
// each), "ViewFilter" ("All"), then the network settings (network_settings.h):
// "MaxSpeed" (0), "Proxy" ("Environment"), "ProxyHost" (""), "ProxyPort" (0),
// "ProxyUser" ("") and "ProxyPassword" (""). A missing or unreadable file gives
// every default; a value out of range is brought into it: "MaxFiles" and
// "MaxTries" into 0..kMostFiles and 0..kMostTries (job_queue.h). A "Connections"
// that is not a number from 1 to 16 gives 4.
void LoadSettings();

// Writes "ColWidths", "DefPath", "MaxFiles", "MaxTries" and "Connections"
// (integers as "%d"), in that order, then the network settings in the order
// above, then the window's four keys and "ViewFilter", into iniPath with one
// replacement of the file. A value that cannot be stored on one line (a folder
// name holding a line break) is left out and the file keeps its old one. False
// when the file could not be written; it is then as it was.
bool SaveSettings();
