// The program from start to end: start-up, the event loop, shutdown.
//
// Threads: the process's main thread, which becomes the user-interface thread.
#pragma once

// Runs the program and returns its exit code: 0, or 1 when URLs could not be
// handed to the instance already running. The command line holds URLs to queue
// (url_handoff.h); otherwise the program is driven by its two files in the state folder, the
// user and the signals SIGTERM, SIGINT and SIGHUP, which close the window like its
// close button.
int RunVantorel(int argc, char** argv);
