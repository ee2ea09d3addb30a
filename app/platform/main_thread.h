// Which thread is the user-interface thread, and the check that the queue's and
// the window's entry points run on it: they share state with no lock, so a call
// from any other thread is a data race. The check is made in every build; on
// failure it prints the caller's file and line and aborts.
//
// The program records its thread when it starts (RecordUiThread); where it did
// not (a test), the first thread that passes a check is taken as it.
#pragma once

// Makes the calling thread the user-interface thread.
void RecordUiThread();

// True on the user-interface thread.
bool OnUiThread();

// Prints "`file`:`line`: called off the user-interface thread" and aborts
// unless on the user-interface thread.
void CheckUiThread(const char* file, int line);

#define VANTOREL_ASSERT_UI_THREAD() CheckUiThread(__FILE__, __LINE__)
