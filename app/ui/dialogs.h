// The two modal dialogs of the File menu.
//
// Threads: user-interface thread only.
#pragma once

class QWidget;

// New File: asks for a URL and a file name, adds the job, saves the list file and
// starts the scheduler. Returns 1 when a job was added (the caller refills the
// view), 0 when cancelled.
int RunNewFileDialog(QWidget* owner);

// New File with `url` already in its URL box, the file name proposed as if typed
// (a URL dropped on the main window). Same result as RunNewFileDialog.
int RunNewFileDialogWithUrl(QWidget* owner, const char* url);

// Preferences: the save folder, simultaneous files and tries. Returns 1 when the
// settings were taken (and the scheduler run), 0 when cancelled.
int RunPreferencesDialog(QWidget* owner);
