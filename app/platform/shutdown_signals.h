// SIGTERM, SIGINT and SIGHUP as a request to close the program normally.
//
// A logout, `kill` or Ctrl+C must run the ordinary shutdown (stop the runs, keep
// the partial files, write the settings), which cannot happen inside a signal
// handler. So the handler only writes one byte to a pipe; the event loop watches
// the pipe's read end (a QSocketNotifier) and closes the main window, which ends
// the loop the way the window's close button does.
//
// Threads: install and remove on the user-interface thread; the handler runs on
// whatever thread the signal lands on and touches nothing but the pipe.
#pragma once

// Creates the pipe (the first time) and installs the handlers. Returns the read
// end to watch for reading (non-blocking, close-on-exec), or -1 when it could not
// be set up (the signals then keep their default action). Installing twice, or
// again after a removal, returns the same end.
int InstallShutdownSignals();

// Empties the pipe; returns the last signal received since the previous call
// (SIGTERM, SIGINT or SIGHUP), or 0 when none. Call it when the read end becomes
// readable; a 0 then is a wake-up whose signal an earlier call already took.
int TakeShutdownSignal();

// Puts back the handlers that were there before. Call it once the window has
// gone: a second Ctrl+C during a long shutdown wait then ends the program the
// ordinary way. The pipe is never closed: a handler already running on another
// thread may still write to it, and a closed descriptor could name another file
// by then. It costs two descriptors for the life of the process.
void RemoveShutdownSignals();
