// The program from start to end: start-up, the event loop, shutdown.
//
// Threads: the process's main thread, which becomes the user-interface thread.
#pragma once

// Runs the program and returns its exit code (command_line.h): 0; 1 when a URL of
// its command line was refused, here or by the instance already running, or could
// not be handed to that instance; 2 for an unknown option. The command line holds
// URLs to queue (url_handoff.h) or asks for the usage or the version; otherwise the program is driven by its two files in the state folder, the
// user and the signals SIGTERM, SIGINT and SIGHUP, which close the window like its
// close button.
int RunVantorel(int argc, char** argv);
