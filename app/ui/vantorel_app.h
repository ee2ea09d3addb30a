// The program from start to end: start-up, the event loop, shutdown.
//
// Threads: the process's main thread, which becomes the user-interface thread.
#pragma once

// Runs the program and returns its exit code (always 0). The command line is
// ignored; the program is driven by its two files beside it, the user and the
// signals SIGTERM, SIGINT and SIGHUP, which close the window like its close button.
int RunVantorel(int argc, char** argv);
