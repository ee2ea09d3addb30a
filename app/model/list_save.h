// When the list file is written: at once after an add or a delete, but the saves
// that many runs ending together would cause are merged into one, and written
// by a thread of their own.
//
// A busy queue finishes jobs by the hundred a second; rewriting and syncing the
// whole file for each would cost n writes of n records. So the end of a Done run
// only asks for a save, and the main loop takes it at once after a quiet spell,
// else when kListSaveDelayMs have passed since its last one (or at once when no
// run is left to end): one save per delay at most while runs keep ending.
//
// The records are put together on the user-interface thread (they read the
// jobs); writing and syncing them, which for a long list can take longer than
// the window may stand still, happens on a writer thread.
//
// Threads: user-interface thread only, apart from the writer thread itself.
#pragma once

#include "list_save_request.h"

// Writes a record for every job of jobList that is neither Done nor marked for
// deletion (`deleteMark`), replacing the list file whole (the old one stays if
// the new one cannot be written), and with it the pause and caught-fields files
// when they changed. A failure is silent: the jobs stay in memory and the next
// save tries again.
void SaveJobList();

// How many times SaveJobList has written the file since the program started:
// each is a rewrite and a sync of the whole list, so the tests count them.
unsigned long long JobListSaveCount();

// Takes a pending save: the records now, written on the writer thread, after
// the one it is still writing if any (a save already waiting there gives way to
// these newer records).
void SaveJobListInBackground();

// Waits for a save being written on the writer thread and drops a pending one:
// the caller writes the newest records itself next. SaveJobList calls it.
void TakeOverListSaves();

// The shutdown's save: a pending one is written now, on this thread, and
// nothing is left running on the writer thread.
void FinishListSaves();
